/* Compiles the public header as strict C11 so a C++-only construct cannot slip into it, and
 * calls the library from C to prove the C linkage of its declarations. */
#include <hx/hx.h>

int hx_header_check_c_command_init(void);

/* 0 when a command record initialised from C reads version 2.12 and nothing else. */
int hx_header_check_c_command_init(void) {
    HX_COMMAND command;
    HX_CALLBACK callback = 0;
    (void)callback;
    if (HX_command_init(&command, (uint32_t)sizeof command) != HX_STATUS_OK) {
        return 1;
    }
    if (command.ver_maj != HX_API_VERSION_MAJ || command.ver_min != HX_API_VERSION_MIN) {
        return 2;
    }
    return (int)(command.flags | command.code | command.code_flags | command.code_caps |
                 command.shutdown_request);
}
