// draw_texture_rec and a 32-slot cache written with a C++ binding library as
// a user after speed writes them: attribute names interned once, arguments
// through the library's own casters, raylib reached through the address given
// to set_draw_target (the benchmark's no-op raylib). The same source is built
// once with nanobind (KR_WITH_NANOBIND) and once with pybind11, so the two
// baselines differ only in the library.
#ifdef KR_WITH_NANOBIND
#include <nanobind/nanobind.h>
#include <nanobind/stl/tuple.h>
namespace lib = nanobind;
#define KR_MODULE NB_MODULE
#else
#include <pybind11/pybind11.h>
namespace lib = pybind11;
#define KR_MODULE PYBIND11_MODULE
#endif

#include <cstdint>
#include <cstring>
#include <tuple>

#include "raylib.h"

using namespace lib::literals;

namespace {

using DrawTextureRecFn = void (*)(Texture2D, Rectangle, Vector2, Color);
DrawTextureRecFn g_draw = nullptr;

// Interned once at import and kept for the life of the process.
struct Names {
    lib::handle id, width, height, mipmaps, format, value;
} g_names;

lib::handle intern(const char *s) { return PyUnicode_InternFromString(s); }

// The colour-channel rule: truncate toward zero, keep the low 8 bits.
unsigned char channel(double d) { return static_cast<unsigned char>(static_cast<std::int32_t>(d)); }

template <class T>
T read(lib::handle o, lib::handle name) {
    return lib::cast<T>(o.attr(name));
}

void draw_texture_rec(lib::handle t, std::tuple<float, float, float, float> r, std::tuple<float, float> p,
                      std::tuple<double, double, double, double> c) {
    Texture2D tex{read<unsigned>(t, g_names.id), read<int>(t, g_names.width), read<int>(t, g_names.height),
                  read<int>(t, g_names.mipmaps), read<int>(t, g_names.format)};
    auto [x, y, w, h] = r;
    auto [px, py] = p;
    auto [cr, cg, cb, ca] = c;
    g_draw(tex, Rectangle{x, y, w, h}, Vector2{px, py}, Color{channel(cr), channel(cg), channel(cb), channel(ca)});
}

int slot(lib::handle member) {
    int i = read<int>(member, g_names.value);
    if (i < 0 || i >= 32) throw lib::index_error("slot out of range");
    return i;
}

struct SlotCache {
    lib::object slots[32];

    lib::object get(lib::handle member) const {
        const lib::object &v = slots[slot(member)];
        return v ? v : lib::none();
    }

    void set(lib::handle member, lib::object value) { slots[slot(member)] = std::move(value); }
};

}  // namespace

KR_MODULE(KR_MODULE_NAME, m) {
    g_names = {intern("id"), intern("width"), intern("height"), intern("mipmaps"), intern("format"), intern("value")};
    m.def("set_draw_target", [](std::uintptr_t address) {
        void *p = reinterpret_cast<void *>(address);
        std::memcpy(&g_draw, &p, sizeof p);
    });
    m.def("draw_texture_rec", &draw_texture_rec, "texture"_a, "source_rec"_a, "position"_a, "color"_a);
    lib::class_<SlotCache>(m, "SlotCache")
        .def(lib::init<>())
        .def("get", &SlotCache::get, "type"_a)
        .def("set", &SlotCache::set, "type"_a, "value"_a);
}
