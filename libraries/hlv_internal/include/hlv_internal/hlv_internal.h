/* The packing library's C entry points: rewrite an image's pixel samples into the dense packed layouts. */
#ifndef HLV_INTERNAL_H
#define HLV_INTERNAL_H

#include <stdint.h>

#if defined(HLV_INTERNAL_BUILDING) && defined(_WIN32)
#  define HLV_INTERNAL_API __declspec(dllexport)
#elif defined(HLV_INTERNAL_BUILDING)
#  define HLV_INTERNAL_API __attribute__((visibility("default")))
#else
#  define HLV_INTERNAL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of hxConvertTiffImageData. */
enum {
    HLV_PACK_OK = 0,
    HLV_PACK_NULL_POINTER = 1, /* pixels or destination is NULL */
    HLV_PACK_BAD_DEPTH = 2,    /* depth is not 8, 10 or 12 */
    HLV_PACK_BAD_SIZE = 3,     /* width or height is 0, or the image does not fit in 32-bit sizes */
    HLV_PACK_NO_MEMORY = 4     /* the staging copy for an overlapping destination could not be made */
};

/*
 * Packs width x height samples that start at `pixels` into the layout for `depth` bits per pixel,
 * written from `destination` on (docs/packing.md gives the bit order). Input samples are one
 * byte each for depth 8 and 16-bit little-endian words for 10 and 12, row after row without
 * padding; only the low `depth` bits of each sample are kept. `destination` may overlap the
 * input (the usual case: the packed image replaces the file it came from). The caller
 * guarantees that the input holds width x height samples and that hxGetPackedSize bytes fit at
 * `destination`. `frame_id` identifies the frame for the caller; packing does not depend on it.
 * Returns HLV_PACK_OK or one of the HLV_PACK_* codes, having written nothing on failure.
 */
HLV_INTERNAL_API uint32_t hxConvertTiffImageData(const void* pixels, void* destination, uint32_t frame_id,
                                                 uint32_t width, uint32_t height, uint32_t depth);

/* Bytes of the packed image, or 0 when the arguments cannot be packed (see HLV_PACK_BAD_*). */
HLV_INTERNAL_API uint32_t hxGetPackedSize(uint32_t width, uint32_t height, uint32_t depth);

#ifdef __cplusplus
}
#endif

#endif /* HLV_INTERNAL_H */
