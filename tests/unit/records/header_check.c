/* Compiles the public header as strict C11 so a C++-only construct cannot slip into it. */
#include <hx/hx.h>

int hx_header_check_c_record_sizes(void);

int hx_header_check_c_record_sizes(void) {
    HX_CAPTURE_SETTINGS capture;
    HX_CALLBACK callback = 0;
    (void)callback;
    capture.ver_maj = HX_API_VERSION_MAJ;
    return (int)sizeof capture + (int)capture.ver_maj - HX_API_VERSION_MAJ;
}
