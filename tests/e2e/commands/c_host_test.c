/* A host program in C against two stand-in cameras: it arms the first, triggers it, follows its
 * progress until the recording is complete, and steps through the recording frame by frame; two
 * clients, each subscribed to one camera, see exactly the events of their own camera.
 * Usage: c_host_test FIRST-ADDRESS SECOND-ADDRESS. Prints "c_host: done" on success. */
#define _POSIX_C_SOURCE 200809L

#include <inttypes.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <hx/hx.h>

#include "c_host.h"

enum { LENGTH = 100, RATE = 25, STEPS = 10, MAX_PROGRESS = 256, WAIT_SECONDS = 20 };

/* What one client's callback has seen; filled on the library's callback thread. */
struct client_log {
    const char *name;
    HX_CAMERA_HANDLE own;
    pthread_mutex_t lock;
    pthread_cond_t changed;
    unsigned foreign;          /* subscriber events of a camera the client did not subscribe to */
    uint32_t state;            /* last HX_STATE of its own camera */
    uint32_t states_seen;      /* HX_CAMERA_STATE_* bits seen */
    HX_PROGRESS progress[MAX_PROGRESS];
    unsigned progress_count;
    uint32_t frames_shown;     /* bit f: HX_PLAYBACK_CHANGE showed frame f */
};

static int subscriber_event(uint32_t event)
{
    return (event >= HX_CAPTURE_CHANGE && event <= HX_STREAM_CHANGE) || event == HX_PROGRESS_UPDATE;
}

static void on_event(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void *data, void *cookie)
{
    struct client_log *log = (struct client_log *)cookie;
    (void)client;
    pthread_mutex_lock(&log->lock);
    if (subscriber_event(event) && camera != log->own) {
        log->foreign++;
    } else if (event == HX_STATE && data != NULL) {
        log->state = ((const HX_COMMAND *)data)->code;
        log->states_seen |= log->state;
    } else if (event == HX_PROGRESS_UPDATE && data != NULL && log->progress_count < MAX_PROGRESS) {
        log->progress[log->progress_count++] = *(const HX_PROGRESS *)data;
    } else if (event == HX_PLAYBACK_CHANGE && data != NULL) {
        const uint32_t frame = ((const HX_PLAYBACK_SETTINGS *)data)->current_frame;
        if (frame < 32)
            log->frames_shown |= 1u << frame;
    }
    pthread_cond_broadcast(&log->changed);
    pthread_mutex_unlock(&log->lock);
}

static void log_init(struct client_log *log, const char *name)
{
    memset(log, 0, sizeof *log);
    log->name = name;
    c_host_cond_init(&log->changed);
    pthread_mutex_init(&log->lock, NULL);
}

typedef int (*condition)(const struct client_log *log, uint32_t value);

static int in_state(const struct client_log *log, uint32_t state) { return log->state == state; }
static int showed(const struct client_log *log, uint32_t frame) { return (log->frames_shown >> frame) & 1u; }
static int counted(const struct client_log *log, uint32_t frames)
{
    return log->progress_count > 0 && log->progress[log->progress_count - 1].recorded_frames == frames;
}

/* Waits until the condition holds for the log, at most WAIT_SECONDS; 1 when it does. */
static int wait_for(struct client_log *log, condition holds, uint32_t value)
{
    const struct timespec deadline = c_host_deadline(WAIT_SECONDS);
    pthread_mutex_lock(&log->lock);
    int result = holds(log, value);
    while (!result && pthread_cond_timedwait(&log->changed, &log->lock, &deadline) == 0)
        result = holds(log, value);
    result = holds(log, value);
    pthread_mutex_unlock(&log->lock);
    return result;
}

static HX_COMMAND command(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t code)
{
    HX_COMMAND reply;
    expect(c_host_command(client, camera, code, &reply), "the camera follows the command");
    return reply;
}

/* A start-trigger recording of LENGTH frames at RATE frames per second. */
static void configure(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof capture);
    expect(HX_setup_capture_syn(client, camera, &capture, &capture) == HX_STATUS_OK, "capture settings are read");
    capture.record_group_flags = HX_FLAG_SET;
    SET_FIELD(capture, record_mode, HX_RECORD_MODE_LTR);
    SET_FIELD(capture, length, LENGTH);
    capture.rate = RATE;
    capture.rate_divisor = 1;
    capture.rate_flags = HX_FLAG_SET;
    expect(HX_setup_capture_syn(client, camera, &capture, &capture) == HX_STATUS_OK, "capture settings are set");
    expect((capture.flags & HX_FLAG_ERR) == 0 && capture.length == LENGTH, "the camera takes the recording");
}

/* Progress updates of the complete recording grow until every frame is counted. */
static void check_progress(struct client_log *log)
{
    unsigned grew = 0;
    uint32_t before = 0;
    int growing = 1;
    pthread_mutex_lock(&log->lock);
    for (unsigned i = 0; i < log->progress_count; ++i) {
        const HX_PROGRESS *p = &log->progress[i];
        if (p->total_frames != LENGTH)
            continue;
        growing = growing && p->recorded_frames >= before;
        if (p->recorded_frames > before)
            grew++;
        before = p->recorded_frames;
    }
    pthread_mutex_unlock(&log->lock);
    printf("c_host: %u progress updates showed frames being recorded, the last %" PRIu32 " of %d\n", grew, before,
           LENGTH);
    expect(grew >= 2, "progress updates arrive while the camera records");
    expect(growing, "the recorded frames never go back");
    expect(before == LENGTH, "the last progress update counts every frame");
}

static void step_through(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, struct client_log *log)
{
    for (uint32_t frame = 0; frame < STEPS; ++frame) {
        HX_PLAYBACK_SETTINGS playback;
        HX_playback_settings_init(&playback, sizeof playback);
        playback.flags = HX_FLAG_SET;
        SET_FIELD(playback, mode, HX_PLAY_PAUSE);
        SET_FIELD(playback, current_frame, frame);
        playback.interval = 1;
        expect(HX_setup_playback_syn(client, camera, &playback, &playback) == HX_STATUS_OK, "a frame step is sent");
        expect(playback.current_frame == frame && (playback.flags & HX_FLAG_ERR) == 0, "the camera shows the frame");
        expect(wait_for(log, showed, frame), "the subscriber is told of the frame shown");
    }
}

int main(int argc, char **argv)
{
    static struct client_log first_log;
    static struct client_log second_log;
    HX_CLIENT_HANDLE first = 0;
    HX_CLIENT_HANDLE second = 0;
    if (argc != 3) {
        printf("usage: c_host_test FIRST-ADDRESS SECOND-ADDRESS\n");
        return 2;
    }
    log_init(&first_log, "first");
    log_init(&second_log, "second");
    expect(HX_register(&first, on_event, &first_log) == HX_STATUS_OK, "register the first client");
    expect(HX_register(&second, on_event, &second_log) == HX_STATUS_OK, "register the second client");
    first_log.own = c_host_camera(first, argv[1]);
    second_log.own = c_host_camera(second, argv[2]);
    if (c_host_failures() != 0)
        return 1;

    configure(first, first_log.own);
    expect(HX_subscribe(first, first_log.own) == HX_STATUS_OK, "the first client subscribes to the first camera");
    expect(HX_subscribe(second, second_log.own) == HX_STATUS_OK, "the second client subscribes to the second camera");
    expect(wait_for(&first_log, in_state, HX_CAMERA_STATE_IDLE), "the subscriber learns the camera's state");

    expect(command(first, first_log.own, HX_CMD_ARM).code == HX_CAMERA_STATE_ARM, "the camera is armed");
    expect(wait_for(&first_log, in_state, HX_CAMERA_STATE_ARM), "the subscriber is told the camera is armed");
    command(first, first_log.own, HX_CMD_TRIGGER);
    expect(wait_for(&first_log, in_state, HX_CAMERA_STATE_REVIEW), "the recording completes");
    expect(wait_for(&first_log, counted, LENGTH), "the progress of the complete recording is reported");
    expect((first_log.states_seen & HX_CAMERA_STATE_TRIGGER) != 0, "the subscriber saw the camera triggered");
    check_progress(&first_log);
    step_through(first, first_log.own, &first_log);

    expect(command(second, second_log.own, HX_CMD_ARM).code == HX_CAMERA_STATE_ARM, "the second camera is armed");
    expect(wait_for(&second_log, in_state, HX_CAMERA_STATE_ARM), "its subscriber is told");
    pthread_mutex_lock(&first_log.lock);
    expect(first_log.foreign == 0, "the first client saw nothing of the second camera");
    pthread_mutex_unlock(&first_log.lock);
    pthread_mutex_lock(&second_log.lock);
    expect(second_log.foreign == 0, "the second client saw nothing of the first camera");
    pthread_mutex_unlock(&second_log.lock);

    expect(HX_unsubscribe(first, first_log.own) == HX_STATUS_OK, "the first client unsubscribes");
    expect(HX_unsubscribe(second, second_log.own) == HX_STATUS_OK, "the second client unsubscribes");
    expect(HX_unregister(first) == HX_STATUS_OK, "unregister the first client");
    expect(HX_unregister(second) == HX_STATUS_OK, "unregister the second client");
    expect(HX_shutdown() == HX_STATUS_OK, "shutdown");
    return c_host_finish();
}
