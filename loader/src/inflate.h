/* Raw deflate decoder (RFC 1951) that keeps no window of its own: back-references are read
 * through inflate_back(), which the caller serves from what it has written already. */
#ifndef LOADER_INFLATE_H
#define LOADER_INFLATE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Decodes in_len input bytes into exactly out_len output bytes; returns a loader_status. */
int inflate_raw(uint32_t in_len, uint32_t out_len);

/* Supplied by the caller. */
uint8_t inflate_in(uint32_t index);                 /* input byte index (< in_len) */
int inflate_out(uint8_t byte);                      /* 0 or a loader_status */
int inflate_back(uint32_t distance, uint8_t* byte); /* byte written `distance` bytes ago */

#ifdef __cplusplus
}
#endif
#endif
