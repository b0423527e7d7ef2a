// The fourteen raylib functions the call layer uses, with raylib's exact
// signatures (checked against raylib.h) and C linkage, doing nothing: the
// benchmarks measure the cost of reaching them, not of drawing.
#include "raylib.h"

extern "C" {
void BeginDrawing(void) {}
void EndDrawing(void) {}
void BeginBlendMode(int) {}
void EndBlendMode(void) {}
void BeginTextureMode(RenderTexture2D) {}
void EndTextureMode(void) {}
void BeginShaderMode(Shader) {}
void EndShaderMode(void) {}
void ClearBackground(Color) {}
void DrawTextureRec(Texture2D, Rectangle, Vector2, Color) {}
void DrawTexturePro(Texture2D, Rectangle, Rectangle, Vector2, float, Color) {}
int GetShaderLocation(Shader, const char *) { return 0; }
void SetShaderValue(Shader, int, const void *, int) {}
void SetShaderValueV(Shader, int, const void *, int, int) {}
}
