/* LZMA1 decoder (literal context bits lc = 0) that keeps no dictionary of its own and whose state
 * lives on from one call to the next, so that one stream can arrive in many frames. Back-references
 * are read through lz_peek(), served by the includer from what it has written already (the flash).
 *
 * Included, not compiled on its own: the loader's protocol.c and the host (which runs the same
 * decoder to know how many stream bytes each frame's output needs) define first
 *   static uint8_t lz_in(void);                          next stream byte
 *   static int lz_put(uint8_t byte);                     0 or a loader_status
 *   static int lz_peek(uint32_t distance, uint8_t* byte); byte written `distance` bytes ago
 * The stream bytes are taken only when a bit needs them, so the bytes a piece of output consumes
 * do not depend on where the output was cut into calls. */

/* Probability table: fixed part first, then the parts whose size depends on pb and lp. */
#define LZ_IS_REP 0u
#define LZ_IS_REP_G0 12u
#define LZ_IS_REP_G1 24u
#define LZ_IS_REP_G2 36u
#define LZ_POS_SLOT 48u                  /* 4 trees of 64 */
#define LZ_SPEC_POS (LZ_POS_SLOT + 256u) /* 115 */
#define LZ_ALIGN (LZ_SPEC_POS + 115u)    /* 16 */
#define LZ_LEN (LZ_ALIGN + 16u)          /* match, rep: choice, choice 2, high tree of 256 */
#define LZ_FIXED (LZ_LEN + 2u * 258u)
/* Then for pb and lp: is_match, is_rep0_long, low and mid length trees, literals
 * (LOADER_LZMA_TABLE in loader.h counts them, LZ_FIXED being 951). */
#define LZ_TABLE_SIZE LOADER_LZMA_TABLE

static struct {
    uint16_t* probs;
    uint32_t range, code, pos, state, pending;
    uint32_t rep[4];
    uint32_t pb, lp;
    uint32_t is_match, rep0_long, len_low, literal; /* offsets of the variable parts */
} LZ;

static uint32_t lz_bit(uint32_t index) {
    uint16_t* p = LZ.probs + index;
    if (LZ.range < (1u << 24)) {
        LZ.range <<= 8;
        LZ.code = LZ.code << 8 | lz_in();
    }
    uint32_t bound = (LZ.range >> 11) * *p;
    if (LZ.code < bound) {
        LZ.range = bound;
        *p = (uint16_t)(*p + ((2048u - *p) >> 5));
        return 0;
    }
    LZ.range -= bound;
    LZ.code -= bound;
    *p = (uint16_t)(*p - (*p >> 5));
    return 1;
}

/* A bit tree of `bits` levels at index (entries 1 .. 2^bits - 1); reverse: least bit first. */
static uint32_t lz_tree(uint32_t index, uint32_t bits, int reverse) {
    uint32_t m = 1, value = 0;
    LOADER_POLL(); /* a symbol's trees and bits together take longer than a byte at 921600 */
    for (uint32_t i = 0; i < bits; ++i) {
        uint32_t bit = lz_bit(index + m);
        m = m << 1 | bit;
        value |= bit << i;
    }
    return reverse ? value : m - (1u << bits);
}

static uint32_t lz_len(uint32_t which, uint32_t pos_state) {
    uint32_t choice = LZ_LEN + which * 258u;
    uint32_t low = LZ.len_low + which * (16u << LZ.pb) + pos_state * 8u;
    if (!lz_bit(choice)) return lz_tree(low, 3, 0);
    if (!lz_bit(choice + 1)) return 8u + lz_tree(low + (8u << LZ.pb), 3, 0);
    return 16u + lz_tree(choice + 2, 8, 0);
}

/* Starts a stream: props byte (pb * 45 + lp * 9 + lc) and the range coder's first 5 bytes.
 * table_size: the entries probs has room for. Returns a loader_status. */
static int lz_begin(uint16_t* probs, uint32_t table_size, uint32_t props, uint32_t position) {
    LZ.pb = props / 45u;
    LZ.lp = props / 9u % 5u;
    if (props % 9u || LZ.pb > 4 || LZ_TABLE_SIZE(LZ.pb, LZ.lp) > table_size) return ST_DECODE;
    LZ.probs = probs;
    LZ.is_match = LZ_FIXED;
    LZ.rep0_long = LZ_FIXED + (12u << LZ.pb);
    LZ.len_low = LZ_FIXED + (24u << LZ.pb);
    LZ.literal = LZ_FIXED + (56u << LZ.pb);
    for (uint32_t i = LZ_TABLE_SIZE(LZ.pb, LZ.lp); i--;) {
        if ((i & 15u) == 0) LOADER_POLL();
        probs[i] = 1024;
    }
    LZ.pos = position;
    LZ.state = LZ.pending = 0;
    LZ.rep[0] = LZ.rep[1] = LZ.rep[2] = LZ.rep[3] = 0;
    LZ.range = 0xFFFFFFFFu;
    LZ.code = 0;
    if (lz_in()) return ST_DECODE;
    for (int i = 0; i < 4; ++i) LZ.code = LZ.code << 8 | lz_in();
    return LZ.code == LZ.range ? ST_DECODE : ST_OK;
}

static int lz_emit(uint8_t byte) {
    ++LZ.pos;
    return lz_put(byte);
}

/* Produces exactly `count` more bytes of the stream; a match may run on into the next call. */
static int lz_run(uint32_t count) {
    int status = ST_OK;
    uint8_t byte = 0;
    for (; count && !status; --count) {
        LOADER_POLL();
        if (LZ.pending) {
            --LZ.pending;
            status = lz_peek(LZ.rep[0] + 1, &byte);
            if (!status) status = lz_emit(byte);
            continue;
        }
        uint32_t pos_state = LZ.pos & ((1u << LZ.pb) - 1u), state = LZ.state;
        if (!lz_bit(LZ.is_match + (state << LZ.pb) + pos_state)) {
            uint32_t probs = LZ.literal + 0x300u * (LZ.pos & ((1u << LZ.lp) - 1u)), symbol = 1;
            if (state >= 7) {
                status = lz_peek(LZ.rep[0] + 1, &byte);
                for (uint32_t match = byte; symbol < 0x100; match <<= 1) {
                    uint32_t match_bit = match >> 7 & 1u;
                    uint32_t bit = lz_bit(probs + ((1u + match_bit) << 8) + symbol);
                    symbol = symbol << 1 | bit;
                    if (bit != match_bit) break;
                }
            }
            while (symbol < 0x100) symbol = symbol << 1 | lz_bit(probs + symbol);
            LZ.state = state < 4 ? 0 : state < 10 ? state - 3 : state - 6;
            if (!status) status = lz_emit((uint8_t)symbol);
            continue;
        }
        uint32_t len;
        if (lz_bit(LZ_IS_REP + state)) {
            if (!lz_bit(LZ_IS_REP_G0 + state)) {
                if (!lz_bit(LZ.rep0_long + (state << LZ.pb) + pos_state)) {
                    LZ.state = state < 7 ? 9 : 11;
                    LZ.pending = 1;
                    ++count;
                    continue;
                }
            } else {
                uint32_t distance, which = lz_bit(LZ_IS_REP_G1 + state) ? 2u : 1u;
                if (which == 2 && lz_bit(LZ_IS_REP_G2 + state)) which = 3;
                distance = LZ.rep[which];
                for (; which; --which) LZ.rep[which] = LZ.rep[which - 1];
                LZ.rep[0] = distance;
            }
            len = lz_len(1, pos_state);
            LZ.state = state < 7 ? 8 : 11;
        } else {
            LZ.rep[3] = LZ.rep[2];
            LZ.rep[2] = LZ.rep[1];
            LZ.rep[1] = LZ.rep[0];
            len = lz_len(0, pos_state);
            LZ.state = state < 7 ? 7 : 10;
            uint32_t slot = lz_tree(LZ_POS_SLOT + (len < 3 ? len : 3) * 64u, 6, 0);
            uint32_t distance = slot;
            if (slot >= 4) {
                uint32_t bits = (slot >> 1) - 1;
                distance = (2u | (slot & 1u)) << bits;
                if (slot < 14) {
                    distance += lz_tree(LZ_SPEC_POS + distance - slot, bits, 1);
                } else {
                    LOADER_POLL();
                    for (bits -= 4; bits; --bits) { /* direct bits, most significant first */
                        if (LZ.range < (1u << 24)) {
                            LZ.range <<= 8;
                            LZ.code = LZ.code << 8 | lz_in();
                        }
                        LZ.range >>= 1;
                        uint32_t bit = LZ.code >= LZ.range;
                        if (bit) LZ.code -= LZ.range;
                        distance += bit << (bits + 3);
                    }
                    distance += lz_tree(LZ_ALIGN, 4, 1);
                }
            }
            if (distance == 0xFFFFFFFFu) return ST_DECODE; /* end marker: the output is longer */
            LZ.rep[0] = distance;
        }
        LZ.pending = len + 2;
        ++count;
    }
    return status;
}
