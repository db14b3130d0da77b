// Benchmark driver: composes the launcher's full frame on its real surface, with the skin taken from
// VYRLauncher.exe's resources, and times it; also times the alpha pass against a dividing reference.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/launcher_state.h"
#include "res/resource_ids.h"
#include "settings/launcher_settings.h"
#include "settings/layout.h"
#include "ui/compositor.h"
#include "ui/frame_math.h"

namespace {

const int kSkinIds[14] = {IDB_START_HOVER,       IDB_START_PRESSED,    IDB_START_DISABLED,     IDB_CANCEL_HOVER,
                          IDB_CANCEL_PRESSED,    IDB_CANCEL_DISABLED,  IDB_HOME_HOVER,         IDB_HOME_PRESSED,
                          IDB_HOME_DISABLED,     IDB_COMMUNITY_HOVER,  IDB_COMMUNITY_PRESSED,  IDB_COMMUNITY_DISABLED,
                          IDB_FILE_BAR,          IDB_TOTAL_BAR};

HBITMAP loadBitmap(HMODULE skin, int id, int width, int height) {
    return static_cast<HBITMAP>(LoadImageA(skin, MAKEINTRESOURCEA(id), IMAGE_BITMAP, width, height, LR_DEFAULTCOLOR));
}

SIZE bitmapSize(HBITMAP image) {
    BITMAP info{};
    GetObjectA(image, sizeof info, &info);
    return SIZE{info.bmWidth, info.bmHeight};
}

// The launcher's start-up steps that build the drawing state, as far as the frame needs them.
bool prepareFrameState(HMODULE skin) {
    gState.backgroundImage = loadBitmap(skin, IDB_BACKGROUND, 0, 0);
    gState.maskImage = loadBitmap(skin, IDB_MASK, 0, 0);
    for (int slot = 0; slot < 14; ++slot) {
        gState.skinImages[slot] = loadBitmap(skin, kSkinIds[slot], slot < 3 ? 100 : 0, slot < 3 ? 99 : 0);
        if (!gState.skinImages[slot]) return false;
    }
    if (!gState.backgroundImage || !gState.maskImage) return false;
    applyLayout();
    gState.statusFont = CreateFontA(gSettings.statusFontHeight, 0, 0, 0, 600, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                    OUT_DEVICE_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, gSettings.statusFontFace);
    for (int i = 0; i < 6; ++i) {
        int slot = i < 4 ? 3 * i : (i == kHitTotalBar ? 13 : 12);
        SIZE size = bitmapSize(gState.skinImages[slot]);
        gState.hitRects[i].right = gState.hitRects[i].left + size.cx;
        gState.hitRects[i].bottom = gState.hitRects[i].top + size.cy;
    }
    SIZE background = bitmapSize(gState.backgroundImage);
    gState.windowWidth = background.cx;
    gState.windowHeight = background.cy;
    gState.surfaceBitmap = createSurface(gState.windowWidth, gState.windowHeight, &gState.surfaceBits);
    gState.alphaMap = static_cast<unsigned char*>(malloc(static_cast<size_t>(background.cx) * background.cy));
    if (!gState.surfaceBitmap || !gState.alphaMap) return false;
    buildAlphaMap();
    gState.launcherFileVersion[3] = 5;
    formatStatusText(settingText(SettingText::MsgReady), 10005);
    return true;
}

double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

struct Timing {
    double mean;
    double median;
};

template <typename Work>
Timing timeRuns(int runs, Work work) {
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
        double start = nowMs();
        work(run);
        ms.push_back(nowMs() - start);
    }
    double sum = 0;
    for (double m : ms) sum += m;
    std::sort(ms.begin(), ms.end());
    return {sum / runs, ms[ms.size() / 2]};
}

// The straightforward pass the shipped one replaces: a division per colour byte.
void dividingAlphaPass(uint8_t* bgra, const uint8_t* alpha, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t a = alpha[i];
        for (int c = 0; c < 3; ++c) bgra[4 * i + c] = static_cast<uint8_t>(bgra[4 * i + c] * a / 255);
        bgra[4 * i + 3] = static_cast<uint8_t>(a);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_compose <VYRLauncher.exe> [runs]\n");
        return 2;
    }
    int runs = argc > 2 ? atoi(argv[2]) : 300;
    HMODULE skin = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!skin || !prepareFrameState(skin)) {
        fprintf(stderr, "cannot load the skin from %s\n", argv[1]);
        return 1;
    }
    // Each run changes a bar so that renderFrame composes the whole frame again.
    int composed = 0;
    Timing frame = timeRuns(runs, [&](int run) {
        gState.fileProgress = run % 2 ? 99 : 100;
        composed += renderFrame();
    });
    size_t pixels = static_cast<size_t>(gState.windowWidth) * gState.windowHeight;
    std::vector<uint8_t> copy(gState.surfaceBits, gState.surfaceBits + pixels * 4);
    Timing alpha = timeRuns(runs, [&](int) { applyAlphaPass(copy.data(), gState.alphaMap, pixels); });
    Timing dividing = timeRuns(runs, [&](int) { dividingAlphaPass(copy.data(), gState.alphaMap, pixels); });
    printf("surface %dx%d\n", gState.windowWidth, gState.windowHeight);
    printf("frames_composed %d of %d\n", composed, runs);
    printf("compose_mean_ms %.4f\ncompose_median_ms %.4f\n", frame.mean, frame.median);
    printf("alpha_mean_ms %.4f\nalpha_median_ms %.4f\n", alpha.mean, alpha.median);
    printf("alpha_dividing_mean_ms %.4f\nalpha_dividing_median_ms %.4f\n", dividing.mean, dividing.median);
    return composed == runs ? 0 : 1;
}
