/* What the test hosts written in C share. */
#include "c_host.h"

#include <stdio.h>

static int failures;

/* MinGW's pthreads take a condition variable's deadline on the real-time clock whatever clock the
 * condition was set up with, so Windows hosts count their deadlines on that clock. */
#ifdef _WIN32
#define C_HOST_CLOCK CLOCK_REALTIME
#else
#define C_HOST_CLOCK CLOCK_MONOTONIC
#endif

void fail(const char *what)
{
    printf("c_host: FAILED: %s\n", what);
    failures++;
}

int expect(int condition, const char *what)
{
    if (!condition)
        fail(what);
    return condition;
}

int c_host_failures(void) { return failures; }

HX_CAMERA_HANDLE c_host_camera(HX_CLIENT_HANDLE client, const char *address)
{
    HX_CAMERA_HANDLE camera = 0;
    if (HX_get_handle_by_name(client, &camera, address) != HX_STATUS_OK) {
        printf("c_host: no camera answers at %s\n", address);
        fail("the camera answers at its address");
    }
    return camera;
}

int c_host_command(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t code, HX_COMMAND *reply)
{
    HX_COMMAND request;
    HX_command_init(&request, sizeof request);
    request.flags = HX_FLAG_SET;
    SET_FIELD(request, code, code);
    const int taken = HX_command_syn(client, camera, &request, &request) == HX_STATUS_OK &&
                      (request.code_flags & HX_FLAG_ERR) == 0;
    if (reply != NULL)
        *reply = request;
    return taken;
}

uint32_t c_host_state(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    HX_COMMAND command;
    HX_command_init(&command, sizeof command);
    if (HX_command_syn(client, camera, &command, &command) != HX_STATUS_OK)
        return 0;
    return command.code;
}

int c_host_wait_for_state(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t state, int seconds)
{
    const struct timespec deadline = c_host_deadline(seconds);
    struct timespec now;
    /* Each look is a request the camera answers, so the loop goes at the camera's pace. */
    while (c_host_state(client, camera) != state) {
        clock_gettime(C_HOST_CLOCK, &now);
        if (now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec))
            return c_host_state(client, camera) == state;
    }
    return 1;
}

struct timespec c_host_deadline(int seconds)
{
    struct timespec deadline;
    clock_gettime(C_HOST_CLOCK, &deadline);
    deadline.tv_sec += seconds;
    return deadline;
}

void c_host_cond_init(pthread_cond_t *cond)
{
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, C_HOST_CLOCK);
    pthread_cond_init(cond, &attributes);
    pthread_condattr_destroy(&attributes);
}

int c_host_finish(void)
{
    if (failures == 0)
        printf("c_host: done\n");
    return failures == 0 ? 0 : 1;
}
