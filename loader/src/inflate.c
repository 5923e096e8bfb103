/* Raw deflate decoder: stored, fixed and dynamic Huffman blocks. Canonical codes are decoded bit
 * by bit from the count of codes per length, which needs no lookup table beyond the symbols. */
#include "inflate.h"

#include "loader.h"

#define MAX_BITS 15
#define MAX_LITLEN 288
#define MAX_DIST 30

struct huffman {
    uint16_t count[MAX_BITS + 1]; /* codes of each length */
    uint16_t* symbol;             /* symbols in code order */
};

/* All state in one block, so the code reaches every field from one base address. */
static struct {
    uint32_t in_pos, in_len;
    uint32_t bit_buffer, bit_count;
    uint32_t out_done, out_len;
    int failure;
    struct huffman litlen_code, dist_code;
    uint16_t litlen_symbols[MAX_LITLEN];
    uint16_t dist_symbols[MAX_DIST];
    uint8_t code_lengths[MAX_LITLEN + MAX_DIST];
} D;

/* Takes n (<= 16) bits, least significant first; past the input end it records a D.failure. */
static uint32_t take_bits(uint32_t n) {
    uint32_t value = D.bit_buffer;
    while (D.bit_count < n) {
        if (D.in_pos >= D.in_len) {
            D.failure = ST_DECODE;
            return 0;
        }
        value |= (uint32_t)inflate_in(D.in_pos++) << D.bit_count;
        D.bit_count += 8;
    }
    D.bit_buffer = value >> n;
    D.bit_count -= n;
    return value & ((1u << n) - 1u);
}

static void emit(uint8_t byte) {
    if (D.failure) return;
    if ((D.out_done & 3u) == 0) loader_service(); /* matches run up to 258 bytes */
    if (D.out_done >= D.out_len) {
        D.failure = ST_DECODE_LENGTH;
        return;
    }
    int status = inflate_out(byte);
    if (status) D.failure = status;
    ++D.out_done;
}

/* Builds a canonical code from code lengths. Returns < 0 when over-subscribed, > 0 when
 * incomplete, 0 when complete. */
static int build(struct huffman* h, const uint8_t* lengths, uint32_t n) {
    uint16_t offsets[MAX_BITS + 1];
    uint32_t len, sym;
    for (len = 0; len <= MAX_BITS; ++len) h->count[len] = 0;
    for (sym = 0; sym < n; ++sym) {
        if ((sym & 15u) == 0) loader_service();
        h->count[lengths[sym]]++;
    }
    if (h->count[0] == n) return 0;
    int left = 1;
    for (len = 1; len <= MAX_BITS; ++len) {
        left <<= 1;
        left -= h->count[len];
        if (left < 0) return left;
    }
    offsets[1] = 0;
    for (len = 1; len < MAX_BITS; ++len) offsets[len + 1] = offsets[len] + h->count[len];
    for (sym = 0; sym < n; ++sym) {
        if ((sym & 15u) == 0) loader_service();
        if (lengths[sym]) h->symbol[offsets[lengths[sym]]++] = (uint16_t)sym;
    }
    return left;
}

static int decode(const struct huffman* h) {
    int code = 0, first = 0, index = 0;
    /* A length and a distance take two decodes between polls elsewhere: too long a gap at
     * 921600 baud without this one. */
    loader_service();
    for (uint32_t len = 1; len <= MAX_BITS; ++len) {
        code |= (int)take_bits(1);
        int count = h->count[len];
        if (code - count < first) return h->symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    D.failure = ST_DECODE;
    return -1;
}

static const uint16_t length_base[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                         15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                         67, 83, 99, 115, 131, 163, 195, 227, 258};
static const uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const uint16_t dist_base[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const uint8_t dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

static void inflate_codes(void) {
    for (;;) {
        loader_service();
        int symbol = decode(&D.litlen_code);
        if (D.failure) return;
        if (symbol < 256) {
            emit((uint8_t)symbol);
        } else if (symbol == 256) {
            return;
        } else {
            symbol -= 257;
            if (symbol >= 29) {
                D.failure = ST_DECODE;
                return;
            }
            uint32_t length = length_base[symbol] + take_bits(length_extra[symbol]);
            symbol = decode(&D.dist_code);
            if (D.failure) return;
            if (symbol >= 30) {
                D.failure = ST_DECODE;
                return;
            }
            uint32_t distance = dist_base[symbol] + take_bits(dist_extra[symbol]);
            while (length-- && !D.failure) {
                uint8_t byte;
                int status = inflate_back(distance, &byte);
                if (status) {
                    D.failure = status;
                    return;
                }
                emit(byte);
            }
        }
        if (D.failure) return;
    }
}

static void inflate_stored(void) {
    D.bit_buffer = 0; /* the rest of the current byte is padding */
    D.bit_count = 0;
    if (D.in_pos + 4 > D.in_len) {
        D.failure = ST_DECODE;
        return;
    }
    uint32_t len = inflate_in(D.in_pos) | (uint32_t)inflate_in(D.in_pos + 1) << 8;
    uint32_t inverse = inflate_in(D.in_pos + 2) | (uint32_t)inflate_in(D.in_pos + 3) << 8;
    D.in_pos += 4;
    if ((len ^ 0xFFFFu) != inverse || D.in_pos + len > D.in_len) {
        D.failure = ST_DECODE;
        return;
    }
    while (len-- && !D.failure) emit(inflate_in(D.in_pos++));
}

static void build_fixed(void) {
    uint32_t sym;
    for (sym = 0; sym < 144; ++sym) D.code_lengths[sym] = 8;
    for (; sym < 256; ++sym) D.code_lengths[sym] = 9;
    for (; sym < 280; ++sym) D.code_lengths[sym] = 7;
    for (; sym < MAX_LITLEN; ++sym) D.code_lengths[sym] = 8;
    build(&D.litlen_code, D.code_lengths, MAX_LITLEN);
    for (sym = 0; sym < MAX_DIST; ++sym) D.code_lengths[sym] = 5;
    build(&D.dist_code, D.code_lengths, MAX_DIST);
}

static const uint8_t length_order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

static void build_dynamic(void) {
    uint32_t nlen = take_bits(5) + 257;
    uint32_t ndist = take_bits(5) + 1;
    uint32_t ncode = take_bits(4) + 4;
    if (D.failure || nlen > 286 || ndist > 30) {
        D.failure = ST_DECODE;
        return;
    }
    uint32_t index;
    for (index = 0; index < 19; ++index) {
        if ((index & 7u) == 0) loader_service();
        D.code_lengths[length_order[index]] = index < ncode ? (uint8_t)take_bits(3) : 0;
    }
    if (D.failure || build(&D.litlen_code, D.code_lengths, 19) != 0) {
        D.failure = ST_DECODE;
        return;
    }
    index = 0;
    while (index < nlen + ndist) {
        loader_service();
        int symbol = decode(&D.litlen_code);
        if (D.failure) return;
        if (symbol < 16) {
            D.code_lengths[index++] = (uint8_t)symbol;
            continue;
        }
        uint8_t repeated = 0;
        uint32_t times;
        if (symbol == 16) {
            if (index == 0) {
                D.failure = ST_DECODE;
                return;
            }
            repeated = D.code_lengths[index - 1];
            times = 3 + take_bits(2);
        } else if (symbol == 17) {
            times = 3 + take_bits(3);
        } else {
            times = 11 + take_bits(7);
        }
        if (D.failure || index + times > nlen + ndist) {
            D.failure = ST_DECODE;
            return;
        }
        while (times--) D.code_lengths[index++] = repeated;
    }
    /* The end-of-block code must exist; an incomplete code is allowed only for a single code. */
    int left = build(&D.litlen_code, D.code_lengths, nlen);
    if (D.code_lengths[256] == 0 || left < 0 || (left > 0 && nlen - D.litlen_code.count[0] != 1)) {
        D.failure = ST_DECODE;
        return;
    }
    left = build(&D.dist_code, D.code_lengths + nlen, ndist);
    if (left < 0 || (left > 0 && ndist - D.dist_code.count[0] != 1)) D.failure = ST_DECODE;
}

int inflate_raw(uint32_t input_length, uint32_t output_length) {
    D.litlen_code.symbol = D.litlen_symbols;
    D.dist_code.symbol = D.dist_symbols;
    D.in_pos = 0;
    D.in_len = input_length;
    D.bit_buffer = 0;
    D.bit_count = 0;
    D.out_done = 0;
    D.out_len = output_length;
    D.failure = 0;
    uint32_t last;
    do {
        last = take_bits(1);
        uint32_t type = take_bits(2);
        if (D.failure) break;
        if (type == 0) {
            inflate_stored();
        } else if (type == 1) {
            build_fixed();
            inflate_codes();
        } else if (type == 2) {
            build_dynamic();
            if (!D.failure) inflate_codes();
        } else {
            D.failure = ST_DECODE;
        }
    } while (!last && !D.failure);
    if (D.failure) return D.failure;
    if (D.in_pos != D.in_len) return ST_DECODE; /* bytes after the final block */
    if (D.out_done != D.out_len) return ST_DECODE_LENGTH;
    return ST_OK;
}
