/* What the test hosts written in C share: failures reported as "c_host: FAILED: ...", a camera
 * looked up by address, commands and the camera state, deadlines on the monotonic clock, and the
 * result line the test scripts look for. Plain C11, like the hosts. */
#ifndef HX_TEST_C_HOST_H
#define HX_TEST_C_HOST_H

#include <pthread.h>
#include <stdint.h>
#include <time.h>

#include <hx/hx.h>

/* Gives a field of a settings record a value and marks it "Set" (its section is marked apart). */
#define SET_FIELD(record, field, value) ((record).field = (value), (record).field##_flags = HX_FLAG_SET)

/* Reports a failure and counts it. */
void fail(const char* what);
/* Reports a failure when the condition does not hold; returns the condition. */
int expect(int condition, const char* what);
/* The number of failures so far. */
int c_host_failures(void);

/* The camera at a dotted address, added through the client; 0 (and a failure) when it does not answer. */
HX_CAMERA_HANDLE c_host_camera(HX_CLIENT_HANDLE client, const char* address);
/* Sends a command; 1 when the camera took it. The camera's reply goes to `reply` when not NULL. */
int c_host_command(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t code, HX_COMMAND* reply);
/* The camera state, 0 when it cannot be read; also a barrier: everything posted to the camera's
 * service thread before it has been handled when it returns. */
uint32_t c_host_state(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
/* Polls the camera state until it is `state`, at most `seconds`; 1 when it got there. */
int c_host_wait_for_state(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t state, int seconds);

/* A deadline `seconds` from now (on the monotonic clock; on Windows the real-time clock), for
 * condition variables set up with c_host_cond_init. */
struct timespec c_host_deadline(int seconds);
void c_host_cond_init(pthread_cond_t* cond);

/* Prints "c_host: done" when nothing failed; the process's exit status. */
int c_host_finish(void);

#endif
