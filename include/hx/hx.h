/* halvex public interface: find, configure, command and stream from networked high-speed cameras. */
#ifndef HX_HX_H
#define HX_HX_H

/*
 * Plain C11, usable from C and C++. Every record crosses the interface by pointer with a fixed,
 * little-endian layout; a managed host marshals them by size, so every size and offset is pinned
 * by a compile-time assertion at the end of this file.
 *
 * Conventions shared by all records:
 *   - An 8-byte header: ver_maj (2), ver_min (12) and a record-level flags word.
 *   - Prepare a record with its *_init function before use (zero-fill plus version words).
 *   - A settable quantity is a group of 32-bit words: current value, its flags word, then as the
 *     quantity has them max, min and constr (the step the value must respect), or caps (the OR
 *     of all supported values, for quantities chosen from a set of single bits).
 *   - Flags words use HX_FLAG_SET (the host asks for the value to be written), HX_FLAG_ERR (the
 *     value was refused or could not be read or written) and HX_FLAG_CHG (the library filled or
 *     changed the value from the camera). Records with several groups open each group with a
 *     group flags word whose HX_FLAG_SET selects the group for writing; a field marked without
 *     its group's (or, where the record selects the write, the record's) HX_FLAG_SET is not
 *     written, and the log names the missing flag.
 *   - The library clears the HX_FLAG_ERR and HX_FLAG_CHG bits it set on an earlier call but never
 *     HX_FLAG_SET: in a reused record, fields marked before are written again.
 *
 * Every call returns HX_STATUS_OK or HX_STATUS_ERROR; the reason for an error is only in the log.
 */

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(HX_BUILDING_LIBRARY)
#    define HX_API __declspec(dllexport)
#  else
#    define HX_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) || defined(__clang__)
#  define HX_API __attribute__((visibility("default")))
#else
#  define HX_API
#endif

#if defined(__cplusplus)
#  define HX_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#  define HX_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#else
/* Older C: a repeated declaration of one array whose size turns negative when a check fails. */
#  define HX_STATIC_ASSERT(condition, message) extern char hx_static_assert_failed[(condition) ? 1 : -1]
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------------
 * Versions, status, handles
 * ------------------------------------------------------------------------------------------- */

/* The interface version; written into every record by its initialiser and checked on use. */
#define HX_API_VERSION_MAJ 2
#define HX_API_VERSION_MIN 12

typedef enum HX_STATUS {
    HX_STATUS_OK = 0,    /* the call did what was asked */
    HX_STATUS_ERROR = 1  /* the call failed; the log says why */
} HX_STATUS;

/* A registered client; handed out by HX_register, never 0 when valid. */
typedef uintptr_t HX_CLIENT_HANDLE;

/* A camera: its IPv4 address in network byte order in the low 32 bits. Obtained from the
 * HX_DISCOVERY event or from HX_get_handle_by_name. */
typedef uintptr_t HX_CAMERA_HANDLE;

/* ---------------------------------------------------------------------------------------------
 * Flag bits of every flags word (record, group and field)
 * ------------------------------------------------------------------------------------------- */

enum {
    HX_FLAG_SET = 0x2, /* write this value (group, record) to the camera */
    HX_FLAG_ERR = 0x4, /* refused, or could not be read or written */
    HX_FLAG_CHG = 0x8  /* the value or its limits came back changed from the camera */
};

/* ---------------------------------------------------------------------------------------------
 * Trace categories for HX_trace and the log. A category is logged when HX_TRACE_SILENT is clear
 * and its bit is set; error lines are logged whatever the mask.
 * ------------------------------------------------------------------------------------------- */

enum {
    HX_TRACE_SILENT = 0x0002,     /* suppresses every category line */
    HX_TRACE_LIFECYCLE = 0x0010,  /* start-up and shut-down */
    HX_TRACE_OPERATIONS = 0x0020, /* camera operations of all families */
    HX_TRACE_CALLBACK = 0x0040,   /* delivery of events and buffers to the host */
    HX_TRACE_API = 0x0080,        /* API entry lines and [IN]/[OUT] record dumps */
    HX_TRACE_SERVICES = 0x0100,   /* per-camera service threads */
    HX_TRACE_DISCOVERY = 0x0200,  /* camera discovery */
    HX_TRACE_COMM = 0x0400,       /* the register and memory control protocol */
    HX_TRACE_WRAPPER = 0x0800,    /* CS_HX_* wrappers and settings size checks */
    HX_TRACE_STREAM = 0x1000,     /* image stream sessions and receivers */
    HX_TRACE_SOCKET = 0x2000,     /* UDP sockets */
    HX_TRACE_PACKING = 0x4000,    /* image-packing loader; not switched on by HX_trace */
    HX_TRACE_ALL = 0x3FF1         /* what HX_trace(1) adds to the mask */
};

/* ---------------------------------------------------------------------------------------------
 * Host callback and its events
 * ------------------------------------------------------------------------------------------- */

typedef enum HX_EVENT {
    HX_DISCOVERY = 1,          /* all clients; data: HX_CAMERA_INFORMATION of the camera found */
    HX_END = 2,                /* all clients; data: NULL (the camera was lost) */
    HX_CAPTURE_CHANGE = 3,     /* subscribed clients; data: HX_CAPTURE_SETTINGS */
    HX_STATE = 4,              /* subscribed clients; data: HX_COMMAND */
    HX_DOWNLOAD_CHANGE = 5,    /* subscribed clients; data: HX_DOWNLOAD_SETTINGS */
    HX_IO_CHANGE = 6,          /* subscribed clients; data: HX_IO_SETTINGS */
    HX_LENS_CHANGE = 7,        /* subscribed clients; data: HX_LENS_STATUS */
    HX_PLAYBACK_CHANGE = 8,    /* subscribed clients; data: HX_PLAYBACK_SETTINGS */
    HX_STREAM_CHANGE = 9,      /* subscribed clients; data: HX_STREAM_SETTINGS */
    HX_DOWNLOAD_DATA = 10,     /* the buffer's client; data: its HX_READ_STREAM, NULL if cancelled */
    HX_LIVE_DATA = 11,         /* as HX_DOWNLOAD_DATA, for live buffers */
    HX_PLAYBACK_DATA = 12,     /* as HX_DOWNLOAD_DATA, for playback buffers */
    HX_PROGRESS_UPDATE = 13,   /* subscribed clients; data: HX_PROGRESS */
    HX_STREAM_NEGOTIATION = 14 /* all clients; data: int32_t *, the agreed packet size in bytes,
                                  negated when no size worked */
} HX_EVENT;

/*
 * Called on the library's single callback thread, never twice at once. `data` is valid only for
 * the duration of the call, except stream records, which are the host's own HX_READ_STREAM.
 * `camera` is 0 where no camera applies; `cookie` is the value given to HX_register.
 */
typedef void (*HX_CALLBACK)(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                            void *data, void *cookie);

/* ---------------------------------------------------------------------------------------------
 * Enumerated field values. Values chosen from a set are single bits so a caps word holds the
 * whole supported set.
 * ------------------------------------------------------------------------------------------- */

/* HX_CAPTURE_SETTINGS.bit_mode: pixel depth and packing of the sensor's output. */
enum {
    HX_BIT_MODE_8A = 0x001,  /* 8-bit pixels, one byte each (camera code 16) */
    HX_BIT_MODE_8B = 0x002,  /* 8-bit pixels (camera code 17) */
    HX_BIT_MODE_8C = 0x004,  /* 8-bit pixels (camera code 18) */
    HX_BIT_MODE_8D = 0x008,  /* 8-bit pixels (camera code 19) */
    HX_BIT_MODE_8E = 0x010,  /* 8-bit pixels (camera code 20) */
    HX_BIT_MODE_10A = 0x020, /* 10-bit pixels, three in four bytes (camera code 32) */
    HX_BIT_MODE_10B = 0x040, /* 10-bit pixels, three in four bytes (camera code 33) */
    HX_BIT_MODE_10C = 0x080, /* 10-bit pixels, three in four bytes (camera code 35) */
    HX_BIT_MODE_12 = 0x100   /* 12-bit pixels, five in eight bytes (camera code 48) */
};

/* HX_CAPTURE_SETTINGS.bns_mode: binning, named by the camera's two binning factors. */
enum {
    HX_BNS_MODE_1X1 = 0x01, /* no binning (camera code 0x101) */
    HX_BNS_MODE_1X2 = 0x02, /* camera code 0x102 */
    HX_BNS_MODE_1X4 = 0x04, /* camera code 0x104 */
    HX_BNS_MODE_2X1 = 0x08, /* camera code 0x201 */
    HX_BNS_MODE_4X1 = 0x10, /* camera code 0x401 */
    HX_BNS_MODE_2X2 = 0x20  /* camera code 0x202 */
};

/* HX_CAPTURE_SETTINGS.fpn_mode: fixed-pattern-noise correction. */
enum {
    HX_FPN_MODE_OFF = 0x01,      /* camera code 0 */
    HX_FPN_MODE_A = 0x02,        /* camera code 1 */
    HX_FPN_MODE_B = 0x04,        /* camera code 4 */
    HX_FPN_MODE_B_EXTRA = 0x08,  /* reported with HX_FPN_MODE_B when the camera adds bit 4 */
    HX_FPN_MODE_CALIBRATE = 0x10 /* calibration; refused by the cameras supported so far */
};

/* HX_CAPTURE_SETTINGS.record_mode (plain numbers, not bits). */
enum {
    HX_RECORD_MODE_STANDARD = 0, /* recording around a trigger position */
    HX_RECORD_MODE_LTR = 2,      /* start-trigger recording of at least 10 frames; trigger 0 */
    HX_RECORD_MODE_PAGED = 3,    /* the modes 3 to 5 use paged image memory */
    HX_RECORD_MODE_PAGED_B = 4,
    HX_RECORD_MODE_PAGED_C = 5
};

/* HX_ANALOG_GAIN.gain: the gain factor in hundredths follows the name (1.00 to 4.50). */
enum {
    HX_ANALOG_GAIN_1_00 = 0x01,
    HX_ANALOG_GAIN_1_50 = 0x02,
    HX_ANALOG_GAIN_2_00 = 0x04,
    HX_ANALOG_GAIN_2_50 = 0x08,
    HX_ANALOG_GAIN_3_00 = 0x10,
    HX_ANALOG_GAIN_3_50 = 0x20,
    HX_ANALOG_GAIN_4_00 = 0x40,
    HX_ANALOG_GAIN_4_50 = 0x80
};

/* HX_COMMAND.code on input: what to do. */
enum {
    HX_CMD_LIVE = 0x01,    /* start the live stream */
    HX_CMD_ARM = 0x02,     /* arm the recorder */
    HX_CMD_TRIGGER = 0x04, /* trigger the armed recorder */
    HX_CMD_KEY_A = 0x10,   /* write control key 0xAAAA */
    HX_CMD_KEY_B = 0x20,   /* write control key 0x5555 */
    HX_CMD_BUSY = 0x40     /* request the camera's brief busy state */
};

/* HX_COMMAND.code on output: the camera state. */
enum {
    HX_CAMERA_STATE_IDLE = 0x01,
    HX_CAMERA_STATE_ARM = 0x02,
    HX_CAMERA_STATE_TRIGGER = 0x04,
    HX_CAMERA_STATE_REVIEW = 0x08, /* a recording is held and can be played back or downloaded */
    HX_CAMERA_STATE_BUSY = 0x40
};

/* HX_DOWNLOAD_SETTINGS.format: how downloaded frames are delivered. */
enum {
    HX_FORMAT_JPEG = 0x01,   /* JPEG at jpeg_quality (camera code 1) */
    HX_FORMAT_TYPE3 = 0x02,  /* camera download type 3 */
    HX_FORMAT_TYPE2 = 0x04,  /* camera download type 2 */
    HX_FORMAT_DNG = 0x08,    /* DNG; colour sensors only (camera code 4) */
    HX_FORMAT_TIFF = 0x10,   /* TIFF frames as the camera writes them (camera code 0x80000003) */
    HX_FORMAT_PACKED = 0x20  /* packed pixel data; TIFF when the packing library is absent */
};

/* HX_PLAYBACK_SETTINGS.mode. */
enum {
    HX_PLAY_FORWARD = 0x1,
    HX_PLAY_REVERSE = 0x2,
    HX_PLAY_PAUSE = 0x4 /* pause; while paused, a new current frame steps to it */
};

/* HX_IO_SETTINGS field values. */
enum {
    HX_EDGE_FALLING = 0, /* any non-zero edge value means rising */
    HX_EDGE_RISING = 1,
    HX_SYNC_PER_SECOND = 0, /* sync_in_ppf: master rate in frames per second */
    HX_SYNC_PER_FRAME = 1,  /* sync_in_ppf: pulses per frame with a divisor */
    HX_SYNC_OUT_SOURCE_A = 0,
    HX_SYNC_OUT_SOURCE_B = 1,
    HX_SYNC_OUT_SOURCE_KEEP = 2 /* leave the camera's sync output source as it is */
};

/* HX_READ_STREAM.status bits, written by the library when it hands a buffer back. */
enum {
    HX_STREAM_STATUS_LEADER = 1,   /* the buffer holds the start of an image */
    HX_STREAM_STATUS_COMPLETE = 2, /* the buffer holds the end of an image (trailer received) */
    HX_STREAM_STATUS_LAST = 4,     /* the buffer ends the stream (the last frame of a download) */
    HX_STREAM_STATUS_ERROR = 8     /* faulty image; with LAST (12) the buffer came back unfilled */
};

/* Live and playback buffers must hold at least this many bytes. */
#define HX_STREAM_MIN_BUFFER_SIZE 0x100000u

/* ---------------------------------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------------------------------- */

/* Analog gain (16 bytes). The record flags carry HX_FLAG_SET; there is no field flags word. */
typedef struct HX_ANALOG_GAIN {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t gain;      /* one HX_ANALOG_GAIN_* bit */
    uint32_t gain_caps; /* the supported HX_ANALOG_GAIN_* bits */
} HX_ANALOG_GAIN;

/* Battery (16 bytes), read only. */
typedef struct HX_BATTERY_INFO {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t battery_state; /* the camera's 4-bit battery state */
    uint32_t charge;        /* 7-bit charge level */
} HX_BATTERY_INFO;

/* Identity of a camera (308 bytes): NUL-terminated texts, truncated to their room. */
typedef struct HX_CAMERA_INFORMATION {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    char adapter_name[49]; /* local network interface that reaches the camera */
    char unused_57[7];
    char device_version[33]; /* firmware version, e.g. "2.5.10" */
    char unused_97[7];
    char manufacturer_info[49];
    char unused_153[7];
    char manufacturer_name[33];
    char unused_193[7];
    char model_name[33];
    char unused_233[7];
    char serial_number[33];
    char unused_273[7];
    char user_name[17]; /* user-defined camera name; HX_get_handle_by_name looks it up */
    char unused_297[11];
} HX_CAMERA_INFORMATION;

/*
 * Capture settings (224 bytes): three groups (sensor, record, exposure), each selected for writing
 * by HX_FLAG_SET in its group flags word and in the flags of each field to write.
 */
typedef struct HX_CAPTURE_SETTINGS {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;

    uint32_t sensor_group_flags;
    uint32_t bit_mode; /* one HX_BIT_MODE_* bit */
    uint32_t bit_mode_flags;
    uint32_t bit_mode_caps;
    uint32_t bns_mode; /* one HX_BNS_MODE_* bit */
    uint32_t bns_mode_flags;
    uint32_t bns_mode_caps;
    uint32_t fpn_mode; /* HX_FPN_MODE_* bits */
    uint32_t fpn_mode_flags;
    uint32_t fpn_mode_caps;
    uint32_t width; /* region of interest, pixels */
    uint32_t width_flags;
    uint32_t width_max;
    uint32_t width_min;
    uint32_t width_constr;
    uint32_t height; /* pixels */
    uint32_t height_flags;
    uint32_t height_max;
    uint32_t height_min;
    uint32_t height_constr;
    uint32_t x_offset; /* pixels from the left edge */
    uint32_t x_offset_flags;
    uint32_t x_offset_max;
    uint32_t x_offset_min;
    uint32_t x_offset_constr;
    uint32_t y_offset; /* pixels from the top edge */
    uint32_t y_offset_flags;
    uint32_t y_offset_max;
    uint32_t y_offset_min;
    uint32_t y_offset_constr;

    uint32_t record_group_flags;
    uint32_t record_mode; /* HX_RECORD_MODE_* */
    uint32_t record_mode_flags;
    uint32_t length; /* frames to record */
    uint32_t length_flags;
    uint32_t length_max;
    uint32_t trigger; /* trigger position, frames */
    uint32_t trigger_flags;
    uint32_t rate;         /* frames per second as rate / rate_divisor */
    uint32_t rate_divisor; /* folded into rate (and reset to 1) when written; 0 or 1 means 1 */
    uint32_t rate_flags;
    uint32_t rate_max;
    uint32_t rate_min;
    uint32_t rate_constr;

    uint32_t exposure_group_flags;
    uint32_t exposure; /* microseconds */
    uint32_t exposure_flags;
    uint32_t exposure_max;
    uint32_t exposure_min;
    uint32_t exposure_constr;
    uint32_t low_light; /* low-light exposure, microseconds; 0 switches it off */
    uint32_t low_light_flags;
    uint32_t low_light_max;
    uint32_t low_light_min;
} HX_CAPTURE_SETTINGS;

/* Command and camera state (24 bytes). */
typedef struct HX_COMMAND {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t code;       /* input: one HX_CMD_* bit (with HX_FLAG_SET); output: HX_CAMERA_STATE_* */
    uint32_t code_flags;
    uint32_t code_caps;  /* the HX_CMD_* bits allowed in the current state */
    uint32_t shutdown_request;
} HX_COMMAND;

/* Download settings (88 bytes): which recorded frames to download and how. */
typedef struct HX_DOWNLOAD_SETTINGS {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t turbo_packet_length; /* stream packet size in bytes: 0 or 1500 to 9000 */
    uint32_t turbo_packet_length_flags;
    uint32_t turbo_delay; /* delay between stream packets, microseconds: 10 to 1000000 */
    uint32_t turbo_delay_flags;
    uint32_t start; /* first frame */
    uint32_t start_flags;
    uint32_t start_max;
    uint32_t stop; /* last frame */
    uint32_t stop_flags;
    uint32_t stop_max;
    uint32_t jpeg_quality; /* 1 to 100 */
    uint32_t jpeg_quality_flags;
    uint32_t jpeg_quality_min;
    uint32_t jpeg_quality_max;
    uint32_t format; /* one HX_FORMAT_* bit */
    uint32_t format_flags;
    uint32_t format_caps;
    uint32_t rate_control_flags; /* HX_FLAG_SET (with the record's) applies the two counts */
    uint32_t pause_count;  /* throttle: the camera pauses when no more buffers than this are lent
                              (default 2, for every camera of the process) */
    uint32_t resume_count; /* throttle: it resumes when this many are lent again (default 10);
                              lend more than this many buffers in all */
} HX_DOWNLOAD_SETTINGS;

/*
 * External input/output (364 bytes): six signal groups, each opened by its group flags word and an
 * enable triple. Words marked "family" are kept by the camera-family code and not shown in dumps.
 */
typedef struct HX_IO_SETTINGS {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t io_family_words[3];

    uint32_t trigger_in_group_flags;
    uint32_t trigger_in_enable;
    uint32_t trigger_in_enable_flags;
    uint32_t trigger_in_enable_caps;
    uint32_t trigger_in_edge; /* HX_EDGE_FALLING, or non-zero for rising */
    uint32_t trigger_in_edge_flags;

    uint32_t trigger_out_group_flags;
    uint32_t trigger_out_enable;
    uint32_t trigger_out_enable_flags;
    uint32_t trigger_out_enable_caps;
    uint32_t trigger_out_pass_thru; /* 0 disabled, non-zero enabled */
    uint32_t trigger_out_pass_thru_flags;
    uint32_t trigger_out_invert; /* 0 disabled, non-zero enabled */
    uint32_t trigger_out_invert_flags;
    uint32_t trigger_out_active_low; /* 0 disabled, non-zero enabled */
    uint32_t trigger_out_active_low_flags;
    uint32_t trigger_out_pulse_width; /* milliseconds; only without pass thru */
    uint32_t trigger_out_pulse_width_flags;
    uint32_t trigger_out_pulse_width_min;
    uint32_t trigger_out_pulse_width_max;

    uint32_t sync_in_group_flags;
    uint32_t sync_in_enable;
    uint32_t sync_in_enable_flags;
    uint32_t sync_in_enable_caps;
    uint32_t sync_in_ppf; /* HX_SYNC_PER_SECOND or HX_SYNC_PER_FRAME */
    uint32_t sync_in_ppf_flags;
    uint32_t sync_in_master_rate; /* frames per second, with HX_SYNC_PER_FRAME */
    uint32_t sync_in_master_rate_flags;
    uint32_t sync_in_master_rate_min;
    uint32_t sync_in_master_rate_max;
    uint32_t sync_in_divisor; /* with HX_SYNC_PER_FRAME */
    uint32_t sync_in_divisor_flags;
    uint32_t sync_in_divisor_min;
    uint32_t sync_in_divisor_max;
    uint32_t sync_in_delay; /* microseconds, with HX_SYNC_PER_SECOND */
    uint32_t sync_in_delay_flags;
    uint32_t sync_in_delay_min;
    uint32_t sync_in_delay_max;
    uint32_t sync_in_edge;
    uint32_t sync_in_edge_flags;
    uint32_t sync_in_family_words[2];

    uint32_t sync_out_group_flags;
    uint32_t sync_out_enable;
    uint32_t sync_out_enable_flags;
    uint32_t sync_out_enable_caps;
    uint32_t sync_out_source; /* HX_SYNC_OUT_SOURCE_* */
    uint32_t sync_out_source_flags;
    uint32_t sync_out_family_words[10];

    uint32_t arm_in_group_flags;
    uint32_t arm_in_enable;
    uint32_t arm_in_enable_flags;
    uint32_t arm_in_enable_caps;
    uint32_t arm_in_mode; /* 0 off, else armed by the input on the edge below */
    uint32_t arm_in_mode_flags;
    uint32_t arm_in_select; /* 1 sets the camera's arm-input select bit */
    uint32_t arm_in_select_flags;
    uint32_t arm_in_edge; /* HX_EDGE_FALLING, or non-zero for rising */
    uint32_t arm_in_edge_flags;

    uint32_t arm_out_group_flags;
    uint32_t arm_out_enable;
    uint32_t arm_out_enable_flags;
    uint32_t arm_out_enable_caps;
    uint32_t arm_out_pass_thru;
    uint32_t arm_out_pass_thru_flags;
    uint32_t arm_out_invert;
    uint32_t arm_out_invert_flags;
    uint32_t arm_out_active_low;
    uint32_t arm_out_active_low_flags;
    uint32_t arm_out_pulse_enable; /* 1 emits a pulse of arm_out_pulse_width */
    uint32_t arm_out_pulse_enable_flags;
    uint32_t arm_out_pulse_width;
    uint32_t arm_out_pulse_width_flags;
    uint32_t arm_out_pulse_width_min;
    uint32_t arm_out_pulse_width_max;

    uint32_t fan_disable_flags;
    uint32_t fan_disable;
} HX_IO_SETTINGS;

/* Lens settings to write (44 bytes); fields with HX_FLAG_SET are sent. */
typedef struct HX_LENS_SETTINGS {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t power;
    uint32_t power_flags;
    uint32_t f_number_num; /* aperture as f_number_num / f_number_den; a denominator of 0 is refused */
    uint32_t f_number_den;
    uint32_t f_number_flags;
    uint32_t focus_pos;
    uint32_t focus_pos_flags;
    uint32_t zoom_pos;
    uint32_t zoom_pos_flags;
} HX_LENS_SETTINGS;

/* Lens status and information (236 bytes); f-numbers are fractions with denominator 10. */
typedef struct HX_LENS_STATUS {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t connected;
    uint32_t connected_flags;
    uint32_t powered;
    uint32_t powered_flags;
    uint32_t talking;
    uint32_t talking_flags;
    uint32_t lens_family_words[2];
    uint32_t f_number_num;
    uint32_t f_number_den;
    uint32_t f_number_flags;
    uint32_t f_minimum_num;
    uint32_t f_minimum_den;
    uint32_t f_minimum_flags;
    uint32_t f_maximum_num;
    uint32_t f_maximum_den;
    uint32_t f_maximum_flags;
    uint32_t focus_pos;
    uint32_t focus_pos_flags;
    uint32_t focus_min;
    uint32_t focus_min_flags;
    uint32_t focus_near;
    uint32_t focus_near_flags;
    uint32_t focus_inf;
    uint32_t focus_inf_flags;
    uint32_t manual_focus;
    uint32_t manual_focus_flags;
    uint32_t zoom_pos;
    uint32_t zoom_pos_flags;
    uint32_t focal_len;
    uint32_t focal_len_flags;
    char name[68]; /* lens name, NUL-terminated */
    uint32_t name_flags;
    uint32_t focal_len_tele;
    uint32_t focal_len_tele_flags;
    uint32_t focal_len_wide;
    uint32_t focal_len_wide_flags;
    uint32_t zoom_divisions;
    uint32_t zoom_divisions_flags;
    uint32_t ez_enable;
    uint32_t ez_enable_flags;
} HX_LENS_STATUS;

/* In-camera playback of a recording (72 bytes). */
typedef struct HX_PLAYBACK_SETTINGS {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t mode; /* one HX_PLAY_* bit */
    uint32_t mode_flags;
    uint32_t mode_caps;
    uint32_t current_frame;
    uint32_t current_frame_flags;
    uint32_t current_frame_max;
    uint32_t cut_in; /* first frame played */
    uint32_t cut_in_flags;
    uint32_t cut_in_max;
    uint32_t cut_out; /* last frame played */
    uint32_t cut_out_flags;
    uint32_t cut_out_max;
    uint32_t interval; /* playback interval between frames */
    uint32_t interval_flags;
    uint32_t trigger; /* the recording's trigger frame */
    uint32_t trigger_flags;
} HX_PLAYBACK_SETTINGS;

/* Progress of a recording or camera save (32 bytes); delivered with HX_PROGRESS_UPDATE. */
typedef struct HX_PROGRESS {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t error;           /* 0, or the error number a camera save failed with */
    uint32_t total_frames;    /* frames in the recording or the save */
    uint32_t trigger_frames;  /* frames recorded before the trigger */
    uint32_t recorded_frames; /* frames recorded (or saved) so far */
    uint32_t percent;         /* camera save progress; 100 when done */
    uint32_t camera_progress; /* the camera's own progress counter during a save */
} HX_PROGRESS;

/*
 * A host image buffer (56 bytes) for HX_live, HX_play and the downloads. The host fills buffer
 * and buffer_size; the library writes the result fields and hands the record back with
 * HX_LIVE_DATA, HX_PLAYBACK_DATA or HX_DOWNLOAD_DATA. The buffer stays the host's; do not reuse
 * it before its callback has run.
 */
typedef struct HX_READ_STREAM {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    void *buffer;             /* start of the host's image memory */
    uint64_t buffer_size;     /* bytes; at least HX_STREAM_MIN_BUFFER_SIZE for live and playback */
    uint32_t status;          /* HX_STREAM_STATUS_* bits */
    uint32_t reserved_28;
    uint32_t received_length; /* image bytes placed in the buffer */
    uint32_t reserved_36;
    uint32_t image_length;    /* payload size the image announced */
    uint32_t reserved_44;
    uint32_t frame_id;        /* the image's sequence number */
    uint32_t reserved_52;
} HX_READ_STREAM;

/* Stream settings (32 bytes). */
typedef struct HX_STREAM_SETTINGS {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    uint32_t interpacket_delay; /* microseconds */
    uint32_t interpacket_delay_flags;
    uint32_t jpeg_quality; /* 1 to 100 */
    uint32_t jpeg_quality_flags;
    uint32_t jpeg_quality_min;
    uint32_t jpeg_quality_max;
} HX_STREAM_SETTINGS;

/* Camera temperatures in degrees Celsius (44 bytes), read only. */
typedef struct HX_TEMPERATURE {
    uint16_t ver_maj;
    uint16_t ver_min;
    uint32_t flags;
    float temp_a10_ext;
    float temp_a10_int;
    float temp_em2120;
    float temp_fan_external;
    float temp_fan_internal;
    float temp_firefly;
    float temp_nvme;
    float temp_pcie;
    float temp_sensor;
} HX_TEMPERATURE;

/* ---------------------------------------------------------------------------------------------
 * Library lifecycle and logging
 * ------------------------------------------------------------------------------------------- */

/* Registers a client; `callback` may be NULL (no events), `cookie` comes back with every call.
 * The first registration starts discovery. */
HX_API HX_STATUS HX_register(HX_CLIENT_HANDLE *client, HX_CALLBACK callback, void *cookie);
/* As HX_register, asking for discovery on local interfaces only. */
HX_API HX_STATUS HX_register_local(HX_CLIENT_HANDLE *client, HX_CALLBACK callback, void *cookie);
/* Drops a client and its subscriptions; 0 is accepted and does nothing. */
HX_API HX_STATUS HX_unregister(HX_CLIENT_HANDLE client);
/* Stops every library thread; the library cannot be restarted in this process (HX_register then
 * fails). Stream buffers still lent are not handed back; once it returns the library no longer
 * touches them. Never call it from inside a callback. */
HX_API HX_STATUS HX_shutdown(void);
/* Pauses (non-zero) or resumes (0) the periodic discovery broadcast. HX_STATUS_OK, also after
 * HX_shutdown; HX_STATUS_ERROR only when discovery could not be started (logged). */
HX_API HX_STATUS HX_discover_pause(uint8_t pause);
/* Non-zero adds HX_TRACE_ALL to the trace mask, 0 clears it; returns the new mask. */
HX_API unsigned HX_trace(int enable);
/* Opens `path` as the log file (also written to standard output); NULL closes it. Fails while
 * another log file is open. */
HX_API HX_STATUS HX_logger_file(const char *path);

/* The kinds of line a log callback is handed: one written whatever the trace mask (a failure or
 * refusal), and a line of a trace category switched on with HX_trace. */
#define HX_LOG_ERROR 3
#define HX_LOG_TRACE 7
/* Takes the library's log lines in a host's own logging. */
typedef void (*HX_LOG_CALLBACK)(int level, const char *text, void *context);
/* Hands every log line to `callback` instead of standard output: `text` is the line without its
 * time stamp and source location, on the thread that logged it (a library thread or the
 * caller's); the callback must not call the library. The log file, when one is open, still gets
 * every full line. NULL restores standard output. Once this returns, no thread is still inside
 * the callback it replaced. */
HX_API HX_STATUS HX_logger_callback(HX_LOG_CALLBACK callback, void *context);
/* Copies into `text` (at most `size` bytes, always terminated) the first error line the library
 * logged on the calling thread during its last call on that thread, "" when that call logged
 * none: the reason a failed call failed. HX_STATUS_ERROR when `text` is NULL or `size` is 0. */
HX_API HX_STATUS HX_last_error(char *text, uint32_t size);

/* ---------------------------------------------------------------------------------------------
 * Record initialisers: zero-fill the record and write the version. HX_STATUS_ERROR when `record`
 * is NULL or `size` is not exactly the record's size (then nothing is written).
 * ------------------------------------------------------------------------------------------- */

HX_API HX_STATUS HX_analog_gain_init(HX_ANALOG_GAIN *record, uint32_t size);
HX_API HX_STATUS HX_battery_info_init(HX_BATTERY_INFO *record, uint32_t size);
HX_API HX_STATUS HX_camera_information_init(HX_CAMERA_INFORMATION *record, uint32_t size);
HX_API HX_STATUS HX_capture_settings_init(HX_CAPTURE_SETTINGS *record, uint32_t size);
HX_API HX_STATUS HX_command_init(HX_COMMAND *record, uint32_t size);
HX_API HX_STATUS HX_download_settings_init(HX_DOWNLOAD_SETTINGS *record, uint32_t size);
HX_API HX_STATUS HX_io_settings_init(HX_IO_SETTINGS *record, uint32_t size);
HX_API HX_STATUS HX_lens_settings_init(HX_LENS_SETTINGS *record, uint32_t size);
HX_API HX_STATUS HX_lens_status_init(HX_LENS_STATUS *record, uint32_t size);
HX_API HX_STATUS HX_lens_info_init(HX_LENS_STATUS *record, unsigned size);
HX_API HX_STATUS HX_playback_settings_init(HX_PLAYBACK_SETTINGS *record, uint32_t size);
HX_API HX_STATUS HX_read_stream_init(HX_READ_STREAM *record, uint32_t size);
HX_API HX_STATUS HX_stream_settings_init(HX_STREAM_SETTINGS *record, uint32_t size);
HX_API HX_STATUS HX_temperature_init(HX_TEMPERATURE *record, uint32_t size);

/* ---------------------------------------------------------------------------------------------
 * Operations. Setters apply the values marked HX_FLAG_SET in `in` (in place), read the camera
 * back, mark refused values HX_FLAG_ERR and filled ones HX_FLAG_CHG, then copy `in` to `out`
 * (which may be the same record). Calls ending in _syn wait for the camera.
 * ------------------------------------------------------------------------------------------- */

/* Looks a camera up by user-defined name or dotted IPv4 address, adding it if it answers. */
HX_API HX_STATUS HX_get_handle_by_name(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE *camera,
                                       const char *name);
/* Forgets a camera; a later lookup or discovery brings it back. */
HX_API HX_STATUS HX_release_handle(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);

HX_API HX_STATUS HX_setup_capture_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                      HX_CAPTURE_SETTINGS *in, HX_CAPTURE_SETTINGS *out);
HX_API HX_STATUS HX_setup_download_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                       HX_DOWNLOAD_SETTINGS *in, HX_DOWNLOAD_SETTINGS *out);
HX_API HX_STATUS HX_setup_io_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                 HX_IO_SETTINGS *in, HX_IO_SETTINGS *out);
HX_API HX_STATUS HX_setup_lens_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                   HX_LENS_SETTINGS *in);
HX_API HX_STATUS HX_setup_playback_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                       HX_PLAYBACK_SETTINGS *in, HX_PLAYBACK_SETTINGS *out);
HX_API HX_STATUS HX_setup_stream_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                     HX_STREAM_SETTINGS *in, HX_STREAM_SETTINGS *out);
/* Writes `in` when given, then reads into `out` when given; either may be NULL. */
HX_API HX_STATUS HX_analog_gain(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                HX_ANALOG_GAIN *in, HX_ANALOG_GAIN *out);

HX_API HX_STATUS HX_get_battery_info(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                     HX_BATTERY_INFO *out);
HX_API HX_STATUS HX_get_camera_information_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                               HX_CAMERA_INFORMATION *out);
/* Copies the camera's media description (JSON text) into json_data, cut to fit and NUL-terminated.
 * *json_length gives the room of json_data in bytes and comes back as the text's full length; with
 * json_data NULL only the length is returned. */
HX_API HX_STATUS HX_get_camera_media_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                         char *json_data, uint32_t *json_length);
HX_API HX_STATUS HX_get_lens_status(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                    HX_LENS_STATUS *out);
HX_API HX_STATUS HX_temperature_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                    HX_TEMPERATURE *out);

/* Takes (lock) or gives up (unlock) exclusive control of the camera. */
HX_API HX_STATUS HX_lockCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
HX_API HX_STATUS HX_unlockCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);

/* Starts a camera save described by a JSON text (second camera family). */
HX_API HX_STATUS HX_camera_save(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                const char *json);
/* Sends the HX_CMD_* in `in` when both in->flags and in->code_flags have HX_FLAG_SET; without
 * HX_FLAG_SET in in->flags reads the state. The state and allowed commands come back in `out`.
 * Does nothing and succeeds when either handle is 0; fails on a camera whose family is not
 * recognised. */
HX_API HX_STATUS HX_command_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                HX_COMMAND *in, HX_COMMAND *out);

/* Subscribes the client to the camera's change events (the client needs a callback). */
HX_API HX_STATUS HX_subscribe(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
HX_API HX_STATUS HX_unsubscribe(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);

/* Image streams. Each call hands one host buffer to the library; it comes back through the
 * callback. HX_live, HX_play and HX_download may be called from inside the callback to lend a
 * buffer again; HX_download_syn waits until the buffer has been handed back and fails there.
 * A TIFF download frame takes its header (a few hundred bytes) plus width x height x bytes per
 * pixel (1 for 8-bit modes, 2 for 10- and 12-bit modes). */
HX_API HX_STATUS HX_live(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM *info);
/* Switches the live stream on (non-zero) or off (0) without handing in a buffer. */
HX_API HX_STATUS HX_live_enable(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, int on_off);
HX_API HX_STATUS HX_play(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM *info);
HX_API HX_STATUS HX_download(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                             HX_READ_STREAM *info);
HX_API HX_STATUS HX_download_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                 HX_READ_STREAM *info);

/* Renders bits 0x4, 0x2 and 0x8 of a flags word as "Err | Set | Chg" ("---" for a clear bit);
 * the text needs 16 bytes and is truncated to fit a smaller buffer. */
HX_API void HX_str_flags(int flags, char *buffer, unsigned size);

/* ---------------------------------------------------------------------------------------------
 * Managed-host wrappers: the same calls with tracing under HX_TRACE_WRAPPER, for hosts that
 * marshal records as blittable structures and handles as pointer-sized integers.
 * ------------------------------------------------------------------------------------------- */

HX_API int CS_HX_VersionMaj(void); /* HX_API_VERSION_MAJ */
HX_API int CS_HX_VersionMin(void); /* HX_API_VERSION_MIN */

HX_API HX_STATUS CS_HX_register(HX_CLIENT_HANDLE *client, HX_CALLBACK callback, void *cookie);
HX_API HX_STATUS CS_HX_unregister(HX_CLIENT_HANDLE client);
HX_API HX_STATUS CS_HX_shutdown(void);
HX_API HX_STATUS CS_HX_discover_pause(uint8_t pause);
HX_API unsigned CS_HX_trace(int enable);
HX_API HX_STATUS CS_HX_logger_file(const char *path);
HX_API HX_STATUS CS_HX_logger_callback(HX_LOG_CALLBACK callback, void *context);
HX_API HX_STATUS CS_HX_last_error(char *text, uint32_t size);

HX_API HX_STATUS CS_HX_analog_gain_init(HX_ANALOG_GAIN *record, uint32_t size);
HX_API HX_STATUS CS_HX_battery_info_init(HX_BATTERY_INFO *record, uint32_t size);
HX_API HX_STATUS CS_HX_camera_information_init(HX_CAMERA_INFORMATION *record, uint32_t size);
HX_API HX_STATUS CS_HX_capture_settings_init(HX_CAPTURE_SETTINGS *record, uint32_t size);
HX_API HX_STATUS CS_HX_command_init(HX_COMMAND *record, uint32_t size);
HX_API HX_STATUS CS_HX_download_settings_init(HX_DOWNLOAD_SETTINGS *record, uint32_t size);
HX_API HX_STATUS CS_HX_io_settings_init(HX_IO_SETTINGS *record, uint32_t size);
HX_API HX_STATUS CS_HX_lens_settings_init(HX_LENS_SETTINGS *record, uint32_t size);
HX_API HX_STATUS CS_HX_lens_status_init(HX_LENS_STATUS *record, uint32_t size);
HX_API HX_STATUS CS_HX_playback_settings_init(HX_PLAYBACK_SETTINGS *record, uint32_t size);
HX_API HX_STATUS CS_HX_read_stream_init(HX_READ_STREAM *record, uint32_t size);
HX_API HX_STATUS CS_HX_stream_settings_init(HX_STREAM_SETTINGS *record, uint32_t size);
HX_API HX_STATUS CS_HX_temperature_init(HX_TEMPERATURE *record, uint32_t size);

HX_API HX_STATUS CS_HX_get_handle_by_name(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE *camera,
                                          const char *name);
HX_API HX_STATUS CS_HX_release_handle(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
HX_API HX_STATUS CS_HX_setup_capture_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                         HX_CAPTURE_SETTINGS *in, HX_CAPTURE_SETTINGS *out);
HX_API HX_STATUS CS_HX_setup_download_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                          HX_DOWNLOAD_SETTINGS *in, HX_DOWNLOAD_SETTINGS *out);
HX_API HX_STATUS CS_HX_setup_io_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                    HX_IO_SETTINGS *in, HX_IO_SETTINGS *out);
HX_API HX_STATUS CS_HX_setup_lens_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                      HX_LENS_SETTINGS *lens_settings);
HX_API HX_STATUS CS_HX_setup_playback_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                          HX_PLAYBACK_SETTINGS *in, HX_PLAYBACK_SETTINGS *out);
HX_API HX_STATUS CS_HX_setup_stream_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                        HX_STREAM_SETTINGS *in, HX_STREAM_SETTINGS *out);
/* HX_analog_gain split in two, so a managed host never passes NULL. */
HX_API HX_STATUS CS_HX_get_analog_gain(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                       HX_ANALOG_GAIN *out);
HX_API HX_STATUS CS_HX_set_analog_gain(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                       HX_ANALOG_GAIN *in);
HX_API HX_STATUS CS_HX_get_battery_info(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                        HX_BATTERY_INFO *out);
HX_API HX_STATUS CS_HX_get_camera_information_syn(HX_CLIENT_HANDLE client,
                                                  HX_CAMERA_HANDLE camera,
                                                  HX_CAMERA_INFORMATION *out);
HX_API HX_STATUS CS_HX_get_camera_media_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                            char *json_data, uint32_t *json_length);
HX_API HX_STATUS CS_HX_get_lens_status(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                       HX_LENS_STATUS *in);
HX_API HX_STATUS CS_HX_temperature_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                       HX_TEMPERATURE *info);
HX_API HX_STATUS CS_HX_lockCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
HX_API HX_STATUS CS_HX_unlockCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
HX_API HX_STATUS CS_HX_camera_save(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                   const char *json);
HX_API HX_STATUS CS_HX_command_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                   HX_COMMAND *in, HX_COMMAND *out);
HX_API HX_STATUS CS_HX_subscribe(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
HX_API HX_STATUS CS_HX_unsubscribe(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera);
HX_API HX_STATUS CS_HX_live(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                            HX_READ_STREAM *info);
HX_API HX_STATUS CS_HX_live_enable(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, int enable);
HX_API HX_STATUS CS_HX_play(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                            HX_READ_STREAM *info);
HX_API HX_STATUS CS_HX_download(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                HX_READ_STREAM *info);
HX_API HX_STATUS CS_HX_download_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera,
                                    HX_READ_STREAM *info);
/* HX_str_flags into a buffer shared by all callers, valid until the next call. */
HX_API const char *CS_HX_str_flags(int flags);

/* ---------------------------------------------------------------------------------------------
 * Layout checks: sizes and every documented offset.
 * ------------------------------------------------------------------------------------------- */

#define HX_CHECK_SIZE(type, bytes) HX_STATIC_ASSERT(sizeof(type) == (bytes), #type " size")
#define HX_CHECK_OFFSET(type, field, offset) \
    HX_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field " offset")
#define HX_CHECK_HEADER(type)          \
    HX_CHECK_OFFSET(type, ver_maj, 0); \
    HX_CHECK_OFFSET(type, ver_min, 2); \
    HX_CHECK_OFFSET(type, flags, 4)

HX_CHECK_HEADER(HX_ANALOG_GAIN);
HX_CHECK_HEADER(HX_BATTERY_INFO);
HX_CHECK_HEADER(HX_CAMERA_INFORMATION);
HX_CHECK_HEADER(HX_CAPTURE_SETTINGS);
HX_CHECK_HEADER(HX_COMMAND);
HX_CHECK_HEADER(HX_DOWNLOAD_SETTINGS);
HX_CHECK_HEADER(HX_IO_SETTINGS);
HX_CHECK_HEADER(HX_LENS_SETTINGS);
HX_CHECK_HEADER(HX_LENS_STATUS);
HX_CHECK_HEADER(HX_PLAYBACK_SETTINGS);
HX_CHECK_HEADER(HX_PROGRESS);
HX_CHECK_HEADER(HX_READ_STREAM);
HX_CHECK_HEADER(HX_STREAM_SETTINGS);
HX_CHECK_HEADER(HX_TEMPERATURE);

HX_CHECK_OFFSET(HX_ANALOG_GAIN, gain, 8);
HX_CHECK_OFFSET(HX_ANALOG_GAIN, gain_caps, 12);
HX_CHECK_SIZE(HX_ANALOG_GAIN, 16);

HX_CHECK_OFFSET(HX_BATTERY_INFO, battery_state, 8);
HX_CHECK_OFFSET(HX_BATTERY_INFO, charge, 12);
HX_CHECK_SIZE(HX_BATTERY_INFO, 16);

HX_CHECK_OFFSET(HX_CAMERA_INFORMATION, adapter_name, 8);
HX_CHECK_OFFSET(HX_CAMERA_INFORMATION, device_version, 64);
HX_CHECK_OFFSET(HX_CAMERA_INFORMATION, manufacturer_info, 104);
HX_CHECK_OFFSET(HX_CAMERA_INFORMATION, manufacturer_name, 160);
HX_CHECK_OFFSET(HX_CAMERA_INFORMATION, model_name, 200);
HX_CHECK_OFFSET(HX_CAMERA_INFORMATION, serial_number, 240);
HX_CHECK_OFFSET(HX_CAMERA_INFORMATION, user_name, 280);
HX_CHECK_SIZE(HX_CAMERA_INFORMATION, 308);

HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, sensor_group_flags, 8);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, bit_mode, 12);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, bns_mode, 24);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, fpn_mode, 36);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, width, 48);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, height, 68);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, x_offset, 88);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, y_offset, 108);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, record_group_flags, 128);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, record_mode, 132);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, length, 140);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, trigger, 152);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, rate, 160);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, rate_divisor, 164);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, rate_flags, 168);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, rate_max, 172);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, rate_min, 176);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, rate_constr, 180);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, exposure_group_flags, 184);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, exposure, 188);
HX_CHECK_OFFSET(HX_CAPTURE_SETTINGS, low_light, 208);
HX_CHECK_SIZE(HX_CAPTURE_SETTINGS, 224);

HX_CHECK_OFFSET(HX_COMMAND, code, 8);
HX_CHECK_OFFSET(HX_COMMAND, code_flags, 12);
HX_CHECK_OFFSET(HX_COMMAND, code_caps, 16);
HX_CHECK_OFFSET(HX_COMMAND, shutdown_request, 20);
HX_CHECK_SIZE(HX_COMMAND, 24);

HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, turbo_packet_length, 8);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, turbo_packet_length_flags, 12);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, turbo_delay, 16);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, turbo_delay_flags, 20);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, start, 24);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, stop, 36);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, jpeg_quality, 48);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, format, 64);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, rate_control_flags, 76);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, pause_count, 80);
HX_CHECK_OFFSET(HX_DOWNLOAD_SETTINGS, resume_count, 84);
HX_CHECK_SIZE(HX_DOWNLOAD_SETTINGS, 88);

HX_CHECK_OFFSET(HX_IO_SETTINGS, io_family_words, 8);
HX_CHECK_OFFSET(HX_IO_SETTINGS, trigger_in_group_flags, 20);
HX_CHECK_OFFSET(HX_IO_SETTINGS, trigger_in_enable, 24);
HX_CHECK_OFFSET(HX_IO_SETTINGS, trigger_in_edge, 36);
HX_CHECK_OFFSET(HX_IO_SETTINGS, trigger_out_group_flags, 44);
HX_CHECK_OFFSET(HX_IO_SETTINGS, trigger_out_enable, 48);
HX_CHECK_OFFSET(HX_IO_SETTINGS, trigger_out_pass_thru, 60);
HX_CHECK_OFFSET(HX_IO_SETTINGS, trigger_out_invert, 68);
HX_CHECK_OFFSET(HX_IO_SETTINGS, trigger_out_active_low, 76);
HX_CHECK_OFFSET(HX_IO_SETTINGS, trigger_out_pulse_width, 84);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_in_group_flags, 100);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_in_enable, 104);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_in_ppf, 116);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_in_master_rate, 124);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_in_divisor, 140);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_in_delay, 156);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_in_edge, 172);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_in_family_words, 180);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_out_group_flags, 188);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_out_enable, 192);
HX_CHECK_OFFSET(HX_IO_SETTINGS, sync_out_source, 204);
HX_CHECK_OFFSET(HX_IO_SETTINGS, arm_in_group_flags, 252);
HX_CHECK_OFFSET(HX_IO_SETTINGS, arm_in_enable, 256);
HX_CHECK_OFFSET(HX_IO_SETTINGS, arm_in_mode, 268);
HX_CHECK_OFFSET(HX_IO_SETTINGS, arm_out_group_flags, 292);
HX_CHECK_OFFSET(HX_IO_SETTINGS, arm_out_enable, 296);
HX_CHECK_OFFSET(HX_IO_SETTINGS, arm_out_pass_thru, 308);
HX_CHECK_OFFSET(HX_IO_SETTINGS, fan_disable_flags, 356);
HX_CHECK_OFFSET(HX_IO_SETTINGS, fan_disable, 360);
HX_CHECK_SIZE(HX_IO_SETTINGS, 364);

HX_CHECK_OFFSET(HX_LENS_SETTINGS, power, 8);
HX_CHECK_OFFSET(HX_LENS_SETTINGS, power_flags, 12);
HX_CHECK_OFFSET(HX_LENS_SETTINGS, f_number_num, 16);
HX_CHECK_OFFSET(HX_LENS_SETTINGS, f_number_den, 20);
HX_CHECK_OFFSET(HX_LENS_SETTINGS, f_number_flags, 24);
HX_CHECK_OFFSET(HX_LENS_SETTINGS, focus_pos, 28);
HX_CHECK_OFFSET(HX_LENS_SETTINGS, focus_pos_flags, 32);
HX_CHECK_OFFSET(HX_LENS_SETTINGS, zoom_pos, 36);
HX_CHECK_OFFSET(HX_LENS_SETTINGS, zoom_pos_flags, 40);
HX_CHECK_SIZE(HX_LENS_SETTINGS, 44);

HX_CHECK_OFFSET(HX_LENS_STATUS, connected, 8);
HX_CHECK_OFFSET(HX_LENS_STATUS, powered, 16);
HX_CHECK_OFFSET(HX_LENS_STATUS, talking, 24);
HX_CHECK_OFFSET(HX_LENS_STATUS, lens_family_words, 32);
HX_CHECK_OFFSET(HX_LENS_STATUS, f_number_num, 40);
HX_CHECK_OFFSET(HX_LENS_STATUS, f_minimum_num, 52);
HX_CHECK_OFFSET(HX_LENS_STATUS, f_maximum_num, 64);
HX_CHECK_OFFSET(HX_LENS_STATUS, focus_pos, 76);
HX_CHECK_OFFSET(HX_LENS_STATUS, focus_min, 84);
HX_CHECK_OFFSET(HX_LENS_STATUS, focus_near, 92);
HX_CHECK_OFFSET(HX_LENS_STATUS, focus_inf, 100);
HX_CHECK_OFFSET(HX_LENS_STATUS, manual_focus, 108);
HX_CHECK_OFFSET(HX_LENS_STATUS, zoom_pos, 116);
HX_CHECK_OFFSET(HX_LENS_STATUS, focal_len, 124);
HX_CHECK_OFFSET(HX_LENS_STATUS, name, 132);
HX_CHECK_OFFSET(HX_LENS_STATUS, name_flags, 200);
HX_CHECK_OFFSET(HX_LENS_STATUS, focal_len_tele, 204);
HX_CHECK_OFFSET(HX_LENS_STATUS, focal_len_wide, 212);
HX_CHECK_OFFSET(HX_LENS_STATUS, zoom_divisions, 220);
HX_CHECK_OFFSET(HX_LENS_STATUS, ez_enable, 228);
HX_CHECK_SIZE(HX_LENS_STATUS, 236);

HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, mode, 8);
HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, mode_flags, 12);
HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, mode_caps, 16);
HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, current_frame, 20);
HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, cut_in, 32);
HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, cut_out, 44);
HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, cut_out_flags, 48);
HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, cut_out_max, 52);
HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, interval, 56);
HX_CHECK_OFFSET(HX_PLAYBACK_SETTINGS, trigger, 64);
HX_CHECK_SIZE(HX_PLAYBACK_SETTINGS, 72);

HX_CHECK_SIZE(HX_PROGRESS, 32);

HX_CHECK_OFFSET(HX_READ_STREAM, buffer, 8);
HX_CHECK_OFFSET(HX_READ_STREAM, buffer_size, 16);
HX_CHECK_OFFSET(HX_READ_STREAM, status, 24);
HX_CHECK_OFFSET(HX_READ_STREAM, received_length, 32);
HX_CHECK_OFFSET(HX_READ_STREAM, image_length, 40);
HX_CHECK_OFFSET(HX_READ_STREAM, frame_id, 48);
HX_CHECK_SIZE(HX_READ_STREAM, 56);

HX_CHECK_OFFSET(HX_STREAM_SETTINGS, interpacket_delay, 8);
HX_CHECK_OFFSET(HX_STREAM_SETTINGS, interpacket_delay_flags, 12);
HX_CHECK_OFFSET(HX_STREAM_SETTINGS, jpeg_quality, 16);
HX_CHECK_SIZE(HX_STREAM_SETTINGS, 32);

HX_CHECK_OFFSET(HX_TEMPERATURE, temp_a10_ext, 8);
HX_CHECK_OFFSET(HX_TEMPERATURE, temp_a10_int, 12);
HX_CHECK_OFFSET(HX_TEMPERATURE, temp_em2120, 16);
HX_CHECK_OFFSET(HX_TEMPERATURE, temp_fan_external, 20);
HX_CHECK_OFFSET(HX_TEMPERATURE, temp_fan_internal, 24);
HX_CHECK_OFFSET(HX_TEMPERATURE, temp_firefly, 28);
HX_CHECK_OFFSET(HX_TEMPERATURE, temp_nvme, 32);
HX_CHECK_OFFSET(HX_TEMPERATURE, temp_pcie, 36);
HX_CHECK_OFFSET(HX_TEMPERATURE, temp_sensor, 40);
HX_CHECK_SIZE(HX_TEMPERATURE, 44);

#undef HX_CHECK_SIZE
#undef HX_CHECK_OFFSET
#undef HX_CHECK_HEADER

#ifdef __cplusplus
}
#endif

#endif /* HX_HX_H */
