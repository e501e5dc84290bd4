/* A host written in C against the public header: finds a stand-in camera by address, configures
 * a small capture, arms and triggers it, downloads the recording (with lent buffers and with the
 * waiting call) and receives live images, checking the frame numbers the camera wrote into them. */
#include <inttypes.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <hx/hx.h>

#include "c_host.h"

#define WIDTH 256u
#define HEIGHT 64u
#define RECORD_LENGTH 16u
/* Frames 2 to 9 of the recording, with two buffers to spare. */
#define FIRST_FRAME 2u
#define LAST_FRAME 9u
#define BUFFERS 10
#define LIVE_BUFFERS 3
#define BUFFER_SIZE HX_STREAM_MIN_BUFFER_SIZE
#define QUEUE_SIZE 64
#define WAIT_SECONDS 10

/* Buffers the library gave back, queued by the callback thread for the main thread. */
struct returned_queue {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    HX_READ_STREAM *records[QUEUE_SIZE];
    unsigned head;
    unsigned count;
};

static struct returned_queue returned;
static HX_READ_STREAM records[BUFFERS + 1];
static unsigned char *memory[BUFFERS + 1];
static HX_CLIENT_HANDLE client;
static HX_CAMERA_HANDLE camera;

static void on_event(uint32_t event, HX_CLIENT_HANDLE from, HX_CAMERA_HANDLE cam, void *data, void *cookie)
{
    (void)from;
    (void)cam;
    (void)cookie;
    if ((event != HX_DOWNLOAD_DATA && event != HX_LIVE_DATA) || data == NULL)
        return;
    pthread_mutex_lock(&returned.lock);
    if (returned.count < QUEUE_SIZE) {
        returned.records[(returned.head + returned.count) % QUEUE_SIZE] = (HX_READ_STREAM *)data;
        returned.count++;
    }
    pthread_cond_broadcast(&returned.changed);
    pthread_mutex_unlock(&returned.lock);
}

/* The next buffer the library gave back, or NULL after WAIT_SECONDS. */
static HX_READ_STREAM *next_returned(void)
{
    const struct timespec deadline = c_host_deadline(WAIT_SECONDS);
    HX_READ_STREAM *record = NULL;
    pthread_mutex_lock(&returned.lock);
    while (returned.count == 0) {
        if (pthread_cond_timedwait(&returned.changed, &returned.lock, &deadline) != 0)
            break;
    }
    if (returned.count > 0) {
        record = returned.records[returned.head];
        returned.head = (returned.head + 1) % QUEUE_SIZE;
        returned.count--;
    }
    pthread_mutex_unlock(&returned.lock);
    return record;
}

static uint32_t little_endian(const unsigned char *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

/* The frame number in the first four samples of a downloaded TIFF (8-bit samples, strip offsets
 * in the first directory), or UINT32_MAX. */
static uint32_t tiff_frame_number(const HX_READ_STREAM *record)
{
    const unsigned char *bytes = record->buffer;
    uint32_t size = record->received_length;
    uint32_t directory;
    uint32_t entries;
    uint32_t i;
    if (size < 8 || bytes[0] != 'I' || bytes[1] != 'I')
        return UINT32_MAX;
    directory = little_endian(bytes + 4);
    if (directory > size - 2)
        return UINT32_MAX;
    entries = (uint32_t)bytes[directory] | (uint32_t)bytes[directory + 1] << 8;
    for (i = 0; i < entries && directory + 2 + (i + 1) * 12 <= size; i++) {
        const unsigned char *entry = bytes + directory + 2 + i * 12;
        if (((uint32_t)entry[0] | (uint32_t)entry[1] << 8) == 273) {
            uint32_t strip = little_endian(entry + 8);
            return strip <= size - 4 ? little_endian(bytes + strip) : UINT32_MAX;
        }
    }
    return UINT32_MAX;
}

static void lend(HX_STATUS (*call)(HX_CLIENT_HANDLE, HX_CAMERA_HANDLE, HX_READ_STREAM *), HX_READ_STREAM *record)
{
    record->status = 0;
    if (call(client, camera, record) != HX_STATUS_OK)
        fail("a buffer was refused");
}

static uint32_t camera_state(void) { return c_host_state(client, camera); }

static int configure_and_record(void)
{
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof capture);
    capture.sensor_group_flags = HX_FLAG_SET;
    SET_FIELD(capture, bit_mode, HX_BIT_MODE_8A);
    SET_FIELD(capture, width, WIDTH);
    SET_FIELD(capture, height, HEIGHT);
    capture.record_group_flags = HX_FLAG_SET;
    SET_FIELD(capture, length, RECORD_LENGTH);
    if (HX_setup_capture_syn(client, camera, &capture, &capture) != HX_STATUS_OK || (capture.flags & HX_FLAG_ERR) != 0) {
        fail("capture settings");
        return 0;
    }
    if (!c_host_command(client, camera, HX_CMD_ARM, NULL) || !c_host_command(client, camera, HX_CMD_TRIGGER, NULL)) {
        fail("arm and trigger");
        return 0;
    }
    return expect(c_host_wait_for_state(client, camera, HX_CAMERA_STATE_REVIEW, WAIT_SECONDS),
                  "the recording did not finish");
}

static int setup_download(uint32_t start, uint32_t stop)
{
    HX_DOWNLOAD_SETTINGS settings;
    HX_download_settings_init(&settings, sizeof settings);
    settings.flags = HX_FLAG_SET;
    SET_FIELD(settings, start, start);
    SET_FIELD(settings, stop, stop);
    SET_FIELD(settings, format, HX_FORMAT_TIFF);
    SET_FIELD(settings, turbo_delay, 2000);
    settings.rate_control_flags = HX_FLAG_SET;
    settings.pause_count = 1;
    settings.resume_count = 2;
    return HX_setup_download_syn(client, camera, &settings, &settings) == HX_STATUS_OK &&
           (settings.flags & HX_FLAG_ERR) == 0;
}

/* Buffers lent before the settings only wait; the buffer-less call starts the download. The two lent
 * beyond the last frame come back released. */
static void download_lent(void)
{
    uint32_t expected = FIRST_FRAME;
    int i;
    for (i = 0; i < BUFFERS; i++)
        lend(HX_download, &records[i]);
    if (!setup_download(FIRST_FRAME, LAST_FRAME) || HX_download(client, camera, NULL) != HX_STATUS_OK) {
        fail("download settings");
        return;
    }
    for (;;) {
        HX_READ_STREAM *record = next_returned();
        if (record == NULL) {
            fail("a download frame did not arrive");
            return;
        }
        if (record->frame_id != expected || tiff_frame_number(record) != expected ||
            (record->status & HX_STREAM_STATUS_COMPLETE) == 0) {
            printf("c_host: frame %" PRIu32 " (pixels %" PRIu32 ", status %" PRIu32 "), expected %" PRIu32 "\n",
                   record->frame_id, tiff_frame_number(record), record->status, expected);
            fail("download frame");
        }
        if ((record->status & HX_STREAM_STATUS_LAST) != 0)
            break;
        expected++;
    }
    if (expected != LAST_FRAME)
        fail("the download ended early");
    for (i = (int)(LAST_FRAME - FIRST_FRAME) + 1; i < BUFFERS; i++) {
        HX_READ_STREAM *record = next_returned();
        if (record == NULL || record->received_length != 0 || (record->status & 12u) != 12u)
            fail("a buffer lent beyond the end was not released");
    }
}

static void download_waiting(void)
{
    HX_READ_STREAM *single = &records[BUFFERS];
    if (!setup_download(6, 6)) {
        fail("single-frame download settings");
        return;
    }
    single->status = 0;
    if (HX_download_syn(client, camera, single) != HX_STATUS_OK)
        fail("HX_download_syn");
    if (next_returned() != single || single->frame_id != 6 || tiff_frame_number(single) != 6 ||
        (single->status & HX_STREAM_STATUS_LAST) == 0)
        fail("single-frame download");
}

static void live(void)
{
    int frames = 0;
    int i;
    for (i = 0; i < LIVE_BUFFERS; i++)
        lend(HX_live, &records[i]);
    if (HX_live_enable(client, camera, 1) != HX_STATUS_OK)
        fail("live on");
    while (frames < 5) {
        HX_READ_STREAM *record = next_returned();
        if (record == NULL) {
            fail("a live frame did not arrive");
            break;
        }
        if (record->received_length < 4 || little_endian(record->buffer) != record->frame_id ||
            record->received_length != record->image_length)
            fail("live frame");
        frames++;
        lend(HX_live, record);
    }
    if (HX_live_enable(client, camera, 0) != HX_STATUS_OK)
        fail("live off");
    camera_state();
}

int main(void)
{
    int i;
    for (i = 0; i <= BUFFERS; i++) {
        memory[i] = malloc(BUFFER_SIZE);
        HX_read_stream_init(&records[i], sizeof records[i]);
        records[i].buffer = memory[i];
        records[i].buffer_size = BUFFER_SIZE;
    }
    pthread_mutex_init(&returned.lock, NULL);
    c_host_cond_init(&returned.changed);
    if (expect(HX_register(&client, on_event, NULL) == HX_STATUS_OK, "register a client"))
        camera = c_host_camera(client, "127.0.0.2");
    if (camera != 0 && configure_and_record()) {
        download_lent();
        download_waiting();
        live();
    }
    HX_unregister(client);
    if (HX_shutdown() != HX_STATUS_OK)
        fail("shutdown");
    /* The library has let go of every buffer once HX_shutdown has returned. */
    for (i = 0; i <= BUFFERS; i++)
        free(memory[i]);
    return c_host_finish();
}
