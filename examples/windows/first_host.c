/* A first Windows host: registers with the library, looks up the cameras at the addresses given on
 * the command line (stand-in cameras from hxsim.exe will do), prints what each one is, and shuts down.
 *   first_host 127.0.0.2 [127.0.0.3 ...] */
#include <inttypes.h>
#include <stdio.h>

#include <hx/hx.h>

static void on_event(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void* cookie)
{
    (void)client;
    (void)data;
    (void)cookie;
    printf("event %" PRIu32 " from camera 0x%" PRIxPTR "\n", event, camera);
}

int main(int argc, char** argv)
{
    HX_CLIENT_HANDLE client = 0;
    int failures = 0;
    if (HX_register(&client, on_event, NULL) != HX_STATUS_OK) {
        printf("first_host: FAILED: HX_register\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        HX_CAMERA_HANDLE camera = 0;
        HX_CAMERA_INFORMATION information;
        HX_camera_information_init(&information, sizeof information);
        if (HX_get_handle_by_name(client, &camera, argv[i]) != HX_STATUS_OK ||
            HX_get_camera_information_syn(client, camera, &information) != HX_STATUS_OK) {
            printf("first_host: FAILED: no camera at %s\n", argv[i]);
            failures++;
            continue;
        }
        printf("%s: %s, firmware %s, serial %s\n", argv[i], information.model_name, information.device_version,
               information.serial_number);
    }
    HX_unregister(client);
    HX_shutdown();
    printf(failures == 0 ? "first_host: done\n" : "first_host: FAILED\n");
    return failures == 0 ? 0 : 1;
}
