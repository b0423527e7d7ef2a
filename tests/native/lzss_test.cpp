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

Bytes plus(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Builds a block item by item, writing a control byte before each group of
// eight.
class Block {
  public:
    Block &literals(const Bytes &bs) {
        for (std::uint8_t b : bs) {
            item(true);
            bytes_.push_back(b);
        }
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

struct Case {
    const char *what;
    Bytes in;
    std::size_t out_len;
    bool ok;
    Bytes want;  // when ok
};

}  // namespace

int main() {
    const Bytes p100 = pattern(100), p400 = pattern(400), p600 = pattern(600), p700 = pattern(700);
    const Bytes p1200 = pattern(1200);
    // Three kinds of reference after 700 bytes: medium, long, short.
    const Bytes three = Block().literals(p700).ref({0x85, 0x24}).ref({0x81, 0x82, 10}).ref({5, 1}).bytes();
    const std::size_t full = 700 + 7 + 13 + 4;
    const Case cases[] = {
        {"literals", {0xFF, 'k', 'o', 'r', 'a', '_', 'r', 'a', 'y', 0x03, 'l', 'i'}, 10, true, str("kora_rayli")},
        {"empty", {}, 0, true, {}},
        {"unread control byte", {0x01}, 0, false, {}},
        // short form: the source immediately before the destination is distance 0
        {"short, distance 0", Block().literals(str("abc")).ref({0, 0}).bytes(), 6, true, str("abcabc")},
        {"short, distance 1 length 5", Block().literals(str("abcdef")).ref({1, 2}).literals(str("!")).bytes(), 12, true,
         str("abcdefabcde!")},
        {"short, largest", Block().literals(p400).ref({127, 255}).bytes(), 658, true, with_copy(p400, 127, 258)},
        // medium form: distance 128 + 5 + (0x20 << 2) = 261, length 4 + 3 = 7
        {"medium", Block().literals(p600).ref({0x85, 0x24}).bytes(), 607, true, with_copy(p600, 261, 7)},
        {"medium, all bits set", Block().literals(p700).ref({0xFF, 0x7F}).bytes(), 734, true, with_copy(p700, 639, 34)},
        {"medium, smallest", Block().literals(p600).ref({0x80, 0x00}).bytes(), 603, true, with_copy(p600, 128, 3)},
        // long form: distance 128 + 1 + (2 << 7) = 385, length 200 + 3
        {"long", Block().literals(p1200).ref({0x81, 0x82, 200}).literals(str("z")).bytes(), 1200 + 203 + 1, true,
         plus(with_copy(p1200, 385, 203), str("z"))},
        {"long, distance 1024", Block().literals(p1200).ref({0x80, 0x87, 0}).bytes(), 1203, true,
         with_copy(p1200, 1024, 3)},
        // references reaching before the start
        {"3 bytes needed, 2 written", Block().literals(str("ab")).ref({0, 0}).bytes(), 5, false, {}},
        {"distance 1 + length 3 > 3", Block().literals(str("abc")).ref({1, 0}).bytes(), 6, false, {}},
        {"from the very first byte", Block().literals(str("abcd")).ref({1, 0}).bytes(), 7, true, str("abcdabc")},
        {"reference first", Block().ref({0, 0}).bytes(), 3, false, {}},
        {"distance 128 after 100 bytes", Block().literals(p100).ref({0x80, 0x00}).bytes(), 103, false, {}},
        // input left over or missing
        {"three references", three, full, true, with_copy(with_copy(with_copy(p700, 261, 7), 385, 13), 5, 4)},
        {"a byte past the end", plus(three, {0}), full, false, {}},
        {"less output asked for", three, full - 5, false, {}},
        {"control byte with nothing after it", plus(Block().literals(str("abcdefgh")).bytes(), {0xFF}), 8, false, {}},
        // the copy stops when the output is full; all input has been read
        {"output full inside a reference", Block().literals(str("abcdef")).ref({0, 0}).bytes(), 8, true,
         str("abcdefde")},
    };
    int failures = 0;
    for (const Case &c : cases) {
        Bytes out;
        if (expand(c.in, c.out_len, &out) != c.ok || (c.ok && out != c.want)) {
            std::printf("check failed: %s\n", c.what);
            ++failures;
        }
    }
    // Every proper prefix lacks a control byte, a literal or a reference byte.
    for (std::size_t n = 0; n < three.size(); ++n) {
        Bytes out;
        if (expand(Bytes(three.begin(), three.begin() + static_cast<std::ptrdiff_t>(n)), full, &out)) {
            std::printf("prefix of %zu bytes accepted\n", n);
            ++failures;
        }
    }
    if (failures) {
        std::printf("%d check(s) failed\n", failures);
        return 1;
    }
    std::printf("lzss: all checks passed\n");
    return 0;
}
