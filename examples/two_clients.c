/* A small host program: two clients with callbacks, every record prepared and shown, then a clean shutdown. */
#include <inttypes.h>
#include <stdio.h>

#include <hx/hx.h>

/* What each client's callback receives; the cookie given to HX_register points here. */
struct client_state {
    const char *name;
    unsigned events;
};

static int failures;

/* Runs on the library's callback thread, one call at a time. */
static void on_event(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void *data, void *cookie)
{
    struct client_state *state = (struct client_state *)cookie;
    state->events++;
    printf("%s: event %" PRIu32 " for camera 0x%" PRIxPTR " (client 0x%" PRIxPTR ", data %p)\n", state->name, event,
           camera, client, data);
}

static void expect(int condition, const char *what)
{
    if (!condition) {
        printf("two_clients: FAILED: %s\n", what);
        failures++;
    }
}

static void show_flags(const char *record, uint32_t flags)
{
    char text[16];
    HX_str_flags((int)flags, text, sizeof text);
    printf("%-22s flags 0x%08" PRIX32 "  %s\n", record, flags, text);
}

int main(void)
{
    struct client_state first = {"first", 0};
    struct client_state second = {"second", 0};
    HX_CLIENT_HANDLE first_client = 0;
    HX_CLIENT_HANDLE second_client = 0;
    HX_ANALOG_GAIN gain;
    HX_BATTERY_INFO battery;
    HX_CAMERA_INFORMATION information;
    HX_CAPTURE_SETTINGS capture;
    HX_COMMAND command;
    HX_DOWNLOAD_SETTINGS download;
    HX_IO_SETTINGS io;
    HX_LENS_SETTINGS lens;
    HX_LENS_STATUS lens_status;
    HX_PLAYBACK_SETTINGS playback;
    HX_READ_STREAM stream;
    HX_STREAM_SETTINGS stream_settings;
    HX_TEMPERATURE temperature;

    /* Every trace category on: the calls below print their records into the log. */
    HX_trace(1);

    expect(HX_register(&first_client, on_event, &first) == HX_STATUS_OK, "register the first client");
    expect(HX_register(&second_client, on_event, &second) == HX_STATUS_OK, "register the second client");
    expect(first_client != second_client, "two clients get two handles");

    expect(HX_analog_gain_init(&gain, sizeof gain) == HX_STATUS_OK, "analog gain");
    expect(HX_battery_info_init(&battery, sizeof battery) == HX_STATUS_OK, "battery info");
    expect(HX_camera_information_init(&information, sizeof information) == HX_STATUS_OK, "camera information");
    expect(HX_capture_settings_init(&capture, sizeof capture) == HX_STATUS_OK, "capture settings");
    expect(HX_command_init(&command, sizeof command) == HX_STATUS_OK, "command");
    expect(HX_download_settings_init(&download, sizeof download) == HX_STATUS_OK, "download settings");
    expect(HX_io_settings_init(&io, sizeof io) == HX_STATUS_OK, "io settings");
    expect(HX_lens_settings_init(&lens, sizeof lens) == HX_STATUS_OK, "lens settings");
    expect(HX_lens_status_init(&lens_status, sizeof lens_status) == HX_STATUS_OK, "lens status");
    expect(HX_playback_settings_init(&playback, sizeof playback) == HX_STATUS_OK, "playback settings");
    expect(HX_read_stream_init(&stream, sizeof stream) == HX_STATUS_OK, "read stream");
    expect(HX_stream_settings_init(&stream_settings, sizeof stream_settings) == HX_STATUS_OK, "stream settings");
    expect(HX_temperature_init(&temperature, sizeof temperature) == HX_STATUS_OK, "temperature");
    expect(HX_read_stream_init(&stream, 48) == HX_STATUS_ERROR, "a wrong size is refused");

    /* No camera is connected here (camera handle 0), so each call prints its input record under
     * "[IN]" and then reports in the log that the camera handle is not valid. */
    expect(HX_setup_capture_syn(first_client, 0, &capture, &capture) == HX_STATUS_ERROR, "capture without camera");
    expect(HX_setup_download_syn(first_client, 0, &download, &download) == HX_STATUS_ERROR, "download without camera");
    expect(HX_setup_io_syn(first_client, 0, &io, &io) == HX_STATUS_ERROR, "io without camera");
    expect(HX_setup_lens_syn(first_client, 0, &lens) == HX_STATUS_ERROR, "lens without camera");
    expect(HX_setup_playback_syn(second_client, 0, &playback, &playback) == HX_STATUS_ERROR, "playback without camera");
    expect(HX_setup_stream_syn(second_client, 0, &stream_settings, &stream_settings) == HX_STATUS_ERROR,
           "stream without camera");
    expect(HX_analog_gain(second_client, 0, &gain, NULL) == HX_STATUS_ERROR, "gain without camera");
    expect(HX_live(second_client, 0, &stream) == HX_STATUS_ERROR, "live without camera");
    /* A command for camera 0 is accepted and does nothing. */
    expect(HX_command_syn(second_client, 0, &command, &command) == HX_STATUS_OK, "command for camera 0");

    /* The records a camera fills in have no input to print; show their headers instead. */
    show_flags("HX_BATTERY_INFO", battery.flags);
    show_flags("HX_CAMERA_INFORMATION", information.flags);
    show_flags("HX_LENS_STATUS", lens_status.flags);
    show_flags("HX_TEMPERATURE", temperature.flags);
    printf("interface version %d.%d\n", CS_HX_VersionMaj(), CS_HX_VersionMin());

    expect(HX_unregister(first_client) == HX_STATUS_OK, "unregister the first client");
    expect(HX_unregister(second_client) == HX_STATUS_OK, "unregister the second client");
    /* Joins every library thread; the library cannot be started again in this process. */
    expect(HX_shutdown() == HX_STATUS_OK, "shutdown");
    expect(HX_register(&first_client, on_event, &first) == HX_STATUS_ERROR, "no registration after shutdown");

    printf("events received: first %u, second %u\n", first.events, second.events);
    if (failures != 0)
        return 1;
    printf("two_clients: done\n");
    return 0;
}
