// kora_raylib: the frame, the modes, the background and texture drawing.

#include "kora_ui/fast/raylib/raylib_declarations.h"
#include "kora_ui/fast/raylib/raylib_module.h"

#include "kora_ui/fast/common/traceback.h"

namespace kora::raylib {

// ---------------------------------------------------------------------------
// Frame, modes and background

namespace {

// The body of the routines calling a raylib function without arguments.
template <class Ptr>
void call_noargs(const Entry<Ptr> &entry, const char *fullname) {
    if (ready(entry))
        entry.call();
    else
        add_traceback(fullname);
}

// The frame brackets: the entry is called whatever is pending, and an error
// pending afterwards (the entry unset, or one already there) gets the
// routine's traceback entry and stays pending.
template <class Ptr>
void call_frame(const Entry<Ptr> &entry, const char *fullname) {
    if (ready(entry)) entry.call();
    if (PyErr_Occurred()) add_traceback(fullname);
}

}  // namespace

void begin_drawing(int) { call_frame(e_BeginDrawing, d_begin_drawing.fullname); }
void end_drawing(int) { call_frame(e_EndDrawing, d_end_drawing.fullname); }
void end_blend_mode(int) { call_noargs(e_EndBlendMode, d_end_blend_mode.fullname); }
void end_texture_mode(int) { call_noargs(e_EndTextureMode, d_end_texture_mode.fullname); }
void end_shader_mode(int) { call_noargs(e_EndShaderMode, d_end_shader_mode.fullname); }

void begin_blend_mode(int mode, int) {
    if (ready(e_BeginBlendMode))
        e_BeginBlendMode.call(mode);
    else
        add_traceback(d_begin_blend_mode.fullname);
}

void begin_texture_mode(PyObject *target, int) {
    RenderTexture2D rt{};
    if (render_texture_fields(target, &rt) < 0 || !ready(e_BeginTextureMode)) {
        add_traceback(d_begin_texture_mode.fullname);
        return;
    }
    e_BeginTextureMode.call(rt);
}

PyObject *begin_krshader_mode(KrShaderObject *shader) {
    Shader s = shader_record(shader);
    if (!ready(e_BeginShaderMode)) {
        add_traceback(dotted<"begin_krshader_mode">);
        return nullptr;
    }
    e_BeginShaderMode.call(s);
    Py_RETURN_NONE;
}

namespace {

// The clears test for any pending error after the conversion, so that an
// error already pending when a sibling module calls stops the clear too: its
// status alone would not show that.
void clear_unless_pending(const Color &c, const char *fullname) {
    if (PyErr_Occurred() || !ready(e_ClearBackground)) {
        add_traceback(fullname);
        return;
    }
    e_ClearBackground.call(c);
}

}  // namespace

void c_clear_background(PyObject *color) {
    Color c{};
    set_color(&c, color);
    clear_unless_pending(c, dotted<"c_clear_background">);
}

void clear_background(PyObject *color, int) {
    c_clear_background(color);
    if (PyErr_Occurred()) add_traceback(d_clear_background.fullname);
}

void kr_clear_background(KrRectObject *color) {
    Color c{};
    set_color_krrect(&c, reinterpret_cast<PyObject *>(color));
    clear_unless_pending(c, dotted<"kr_clear_background">);
}

// Clears whatever is pending: there is nothing to convert.
void c_clear_background_blank() {
    if (ready(e_ClearBackground))
        e_ClearBackground.call(Color{0, 0, 0, 0});
    else
        add_traceback(dotted<"c_clear_background_blank">);
}

// ---------------------------------------------------------------------------
// Texture drawing

namespace {

// The body shared by the DrawTextureRec members: the texture, then the
// source rectangle, the position and the colour, each tested before the next
// by its status (0, or -1 with an exception set).
template <class Source, class Position, class Tint>
void draw_rec(const char *fullname, PyObject *texture, Source source, Position position, Tint tint) {
    Texture2D tex{};
    Rectangle src{};
    Vector2 pos{};
    Color col{};
    if (texture_fields(texture, &tex) < 0 || source(&src, tex) < 0 || position(&pos) < 0 || tint(&col) < 0 ||
        !ready(e_DrawTextureRec)) {
        add_traceback(fullname);
        return;
    }
    e_DrawTextureRec.call(tex, src, pos, col);
}

}  // namespace

void c_draw_texture_rec(PyObject *texture, PyObject *source_rec, PyObject *position, PyObject *color) {
    draw_rec(
        dotted<"c_draw_texture_rec">, texture,
        [&](Rectangle *r, const Texture2D &) { return set_rectangle_1tuple(r, source_rec); },
        [&](Vector2 *v) { return set_vector2_tuple(v, position); }, [&](Color *c) { return set_color(c, color); });
}

void draw_texture_rec(PyObject *texture, PyObject *source_rec, PyObject *position, PyObject *color, int) {
    c_draw_texture_rec(texture, source_rec, position, color);
    if (PyErr_Occurred()) add_traceback(d_draw_texture_rec.fullname);
}

void c_draw_texture_vec(PyObject *texture, PyObject *position, PyObject *color, int flip) {
    draw_rec(
        dotted<"c_draw_texture_vec">, texture,
        [&](Rectangle *r, const Texture2D &t) { return whole_texture(r, t, flip != 0), 0; },
        [&](Vector2 *v) { return set_vector2_tuple(v, position); }, [&](Color *c) { return set_color(c, color); });
}

void draw_texture_vec(PyObject *texture, PyObject *position, PyObject *color, int flip, int) {
    c_draw_texture_vec(texture, position, color, flip);
    if (PyErr_Occurred()) add_traceback(d_draw_texture_vec.fullname);
}

void c_draw_texture_krvec(PyObject *texture, KrVector2Object *position, KrRectObject *color, int flip) {
    draw_rec(
        dotted<"c_draw_texture_krvec">, texture,
        [&](Rectangle *r, const Texture2D &t) { return whole_texture(r, t, flip != 0), 0; },
        [&](Vector2 *v) { return set_vector2_krvector2(v, reinterpret_cast<PyObject *>(position)); },
        [&](Color *c) { return set_color_krrect(c, reinterpret_cast<PyObject *>(color)); });
}

void c_draw_krtexture_krvec(KrRenderTextureObject *texture, KrVector2Object *position, KrRectObject *color, int flip) {
    Ref tex = Ref::steal(texture->vtab->c_get_texture(texture));
    if (tex) c_draw_texture_krvec(tex.get(), position, color, flip);
    if (PyErr_Occurred()) add_traceback(dotted<"c_draw_krtexture_krvec">);
}

void c_draw_texture_pro(PyObject *texture, PyObject *source_rec, PyObject *dest_rec, PyObject *origin, float rotation,
                        PyObject *color) {
    Texture2D tex{};
    Rectangle src{}, dst{};
    Vector2 org{};
    Color col{};
    if (texture_fields(texture, &tex) < 0 || set_rectangle_1tuple(&src, source_rec) < 0 ||
        set_rectangle_1tuple(&dst, dest_rec) < 0 || set_vector2_tuple(&org, origin) < 0 || set_color(&col, color) < 0 ||
        !ready(e_DrawTexturePro)) {
        add_traceback(dotted<"c_draw_texture_pro">);
        return;
    }
    e_DrawTexturePro.call(tex, src, dst, org, rotation, col);
}

void draw_texture_pro(PyObject *texture, PyObject *source_rec, PyObject *dest_rec, PyObject *origin, float rotation,
                      PyObject *color, int) {
    c_draw_texture_pro(texture, source_rec, dest_rec, origin, rotation, color);
    if (PyErr_Occurred()) add_traceback(d_draw_texture_pro.fullname);
}

}  // namespace kora::raylib
