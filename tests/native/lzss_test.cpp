// Unit test of the constant-table decoder (kora::lzss_expand) on hand-made
// blocks. Exits with 0 when every check holds; prints each failed check.
// Buffers are sized exactly, so an out-of-bounds access shows up under
// AddressSanitizer.

#include "kora_ui/fast/common/lzss.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

int g_failures = 0;

#define CHECK(cond)                                                              \
    do {                                                                         \
        if (!(cond)) {                                                           \
            std::printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++g_failures;                                                        \
        }                                                                        \
    } while (0)

// Expands `in` into exactly `out_len` bytes; the result is empty on failure.
bool expand(const Bytes &in, std::size_t out_len, Bytes *out) {
    // Heap copies of exactly the given sizes (a null pointer for size 0).
    std::uint8_t *src = in.empty() ? nullptr : new std::uint8_t[in.size()];
    for (std::size_t i = 0; i < in.size(); ++i) src[i] = in[i];
    std::uint8_t *dst = out_len ? new std::uint8_t[out_len] : nullptr;
    bool ok = kora::lzss_expand(src, in.size(), dst, out_len);
    out->assign(dst, dst + (ok ? out_len : 0));
    delete[] src;
    delete[] dst;
    return ok;
}

Bytes str(const std::string &s) { return Bytes(s.begin(), s.end()); }

// Builds a block item by item, writing a control byte before each group of
// eight.
class Block {
  public:
    Block &literal(std::uint8_t b) {
        item(true);
        bytes_.push_back(b);
        return *this;
    }
    Block &literals(const Bytes &bs) {
        for (std::uint8_t b : bs) literal(b);
        return *this;
    }
    Block &ref(std::initializer_list<std::uint8_t> code) {
        item(false);
        bytes_.insert(bytes_.end(), code);
        return *this;
    }
    const Bytes &bytes() const { return bytes_; }

  private:
    void item(bool literal) {
        if (count_ % 8 == 0) {
            control_ = bytes_.size();
            bytes_.push_back(0);
        }
        if (literal) bytes_[control_] |= static_cast<std::uint8_t>(1u << (count_ % 8));
        ++count_;
    }
    Bytes bytes_;
    std::size_t control_ = 0;
    std::size_t count_ = 0;
};

// `n` distinct-looking bytes.
Bytes pattern(std::size_t n) {
    Bytes p(n);
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>((i * 7 + i / 251) % 251);
    return p;
}

// What a back-reference appends: `len` bytes starting `dist + len` before the end.
Bytes with_copy(Bytes out, std::size_t dist, std::size_t len) {
    std::size_t src = out.size() - dist - len;
    for (std::size_t i = 0; i < len; ++i) out.push_back(out[src + i]);
    return out;
}

void test_literals() {
    Bytes out;
    CHECK(expand({0xFF, 'k', 'o', 'r', 'a', '_', 'r', 'a', 'y', 0x03, 'l', 'i'}, 10, &out));
    CHECK(out == str("kora_rayli"));
    CHECK(expand({}, 0, &out) && out.empty());
    CHECK(!expand({0x01}, 0, &out));
}

void test_short_reference() {
    Bytes out;
    // Source immediately before the destination: distance 0.
    Block b;
    b.literals(str("abc")).ref({0, 0});
    CHECK(expand(b.bytes(), 6, &out) && out == str("abcabc"));
    Block far;
    far.literals(str("abcdef")).ref({1, 2}).literal('!');  // distance 1, length 5
    CHECK(expand(far.bytes(), 12, &out) && out == str("abcdefabcde!"));
    // The largest short form: distance 127, length 258.
    Bytes text = pattern(400);
    Block big;
    big.literals(text).ref({127, 255});
    CHECK(expand(big.bytes(), 658, &out) && out == with_copy(text, 127, 258));
}

void test_medium_reference() {
    Bytes out, text = pattern(600);
    // distance 128 + 5 + (0x20 << 2) = 261, length 4 + 3 = 7
    Block b;
    b.literals(text).ref({0x85, 0x24});
    CHECK(expand(b.bytes(), 607, &out) && out == with_copy(text, 261, 7));
    // All bits set: distance 128 + 127 + 384 = 639 needs more text first.
    Bytes longer = pattern(700);
    Block top;
    top.literals(longer).ref({0xFF, 0x7F});
    CHECK(expand(top.bytes(), 734, &out) && out == with_copy(longer, 639, 34));
    // Distance 128, length 3: the smallest medium form.
    Block low;
    low.literals(text).ref({0x80, 0x00});
    CHECK(expand(low.bytes(), 603, &out) && out == with_copy(text, 128, 3));
}

void test_long_reference() {
    Bytes out, text = pattern(1200);
    // distance 128 + 1 + (2 << 7) = 385, length 200 + 3
    Block b;
    b.literals(text).ref({0x81, 0x82, 200}).literal('z');
    Bytes expected = with_copy(text, 385, 203);
    expected.push_back('z');
    CHECK(expand(b.bytes(), expected.size(), &out) && out == expected);
    // distance 128 + 0 + (7 << 7) = 1024, length 3
    Block far;
    far.literals(text).ref({0x80, 0x87, 0});
    CHECK(expand(far.bytes(), 1203, &out) && out == with_copy(text, 1024, 3));
}

void test_back_reference_before_start() {
    Bytes out;
    Block b;
    b.literals(str("ab")).ref({0, 0});  // needs 3 bytes, 2 written
    CHECK(!expand(b.bytes(), 5, &out));
    Block d;
    d.literals(str("abc")).ref({1, 0});  // distance 1 + length 3 > 3
    CHECK(!expand(d.bytes(), 6, &out));
    Block exact;
    exact.literals(str("abcd")).ref({1, 0});  // starts at the very first byte
    CHECK(expand(exact.bytes(), 7, &out) && out == str("abcdabc"));
    Block first;
    first.ref({0, 0});
    CHECK(!expand(first.bytes(), 3, &out));
    Block mid;
    mid.literals(pattern(100)).ref({0x80, 0x00});  // distance 128 with 100 bytes
    CHECK(!expand(mid.bytes(), 103, &out));
}

void test_truncated_and_overlong_input() {
    Bytes text = pattern(700);
    Block b;
    b.literals(text).ref({0x85, 0x24}).ref({0x81, 0x82, 10}).ref({5, 1});
    std::size_t full = 700 + 7 + 13 + 4;
    Bytes out;
    CHECK(expand(b.bytes(), full, &out));
    // Every proper prefix lacks a control byte, a literal or a reference byte.
    for (std::size_t n = 0; n < b.bytes().size(); ++n) {
        Bytes prefix(b.bytes().begin(), b.bytes().begin() + static_cast<std::ptrdiff_t>(n));
        if (expand(prefix, full, &out)) {
            std::printf("prefix of %zu bytes accepted\n", n);
            ++g_failures;
        }
    }
    Bytes longer = b.bytes();
    longer.push_back(0);
    CHECK(!expand(longer, full, &out));
    // Asking for less output leaves input unread.
    CHECK(!expand(b.bytes(), full - 5, &out));
    // A control byte that starts a group nothing is left for is unread input.
    Block tail;
    tail.literals(str("abcdefgh"));
    Bytes dangling = tail.bytes();
    dangling.push_back(0xFF);
    CHECK(!expand(dangling, 8, &out));
}

void test_output_fills_inside_a_reference() {
    // The copy stops when the output is full; all input has been read.
    Block b;
    b.literals(str("abcdef")).ref({0, 0});
    Bytes out;
    CHECK(expand(b.bytes(), 8, &out) && out == str("abcdefde"));
}

}  // namespace

int main() {
    test_literals();
    test_short_reference();
    test_medium_reference();
    test_long_reference();
    test_back_reference_before_start();
    test_truncated_and_overlong_input();
    test_output_fills_inside_a_reference();
    if (g_failures) {
        std::printf("%d check(s) failed\n", g_failures);
        return 1;
    }
    std::printf("lzss: all checks passed\n");
    return 0;
}
