// The compiled-in settings record: texts, addresses, layout texts, status-line style and messages.
// Free of <windows.h> so that the text-handling code built on it also builds natively.
#pragma once
#include <cstdint>

enum class SettingText : int {
    PatchBaseUrl,
    PatchInfoUrl,
    GameExeName,
    StatusTextStyle,
    StartButtonPos,
    CancelButtonPos,
    HomeButtonPos,
    CommunityButtonPos,
    FileProgressPos,
    TotalProgressPos,
    HomePageUrl,
    SocialPageUrl,
    MsgInitializing,
    MsgCheckingVersion,
    MsgReady,
    MsgServerUnreachable,
    MsgReinstall,
    MsgErrorCaption,
    MsgConfigIncorrect,
    MsgVersionNotFound,
    MsgLauncherFailed,
    Count
};

// Same four bytes, in the same order, as the Win32 BLENDFUNCTION.
struct LayerBlend {
    uint8_t blendOp;
    uint8_t blendFlags;
    uint8_t sourceConstantAlpha;
    uint8_t alphaFormat;
};

enum { kLaunchFailureMessageCount = 6, kSettingTextSize = 256 };

struct LauncherSettings {
    int32_t statusTextX;
    int32_t statusTextY;
    char windowTitle[256];
    uint32_t statusTextColour;  // COLORREF, 0x00BBGGRR
    char statusFontFace[32];
    int32_t statusFontHeight;
    char launchFailureMessages[kLaunchFailureMessageCount][512];
    LayerBlend layerBlend;
    const char* cipherKeyText;
    char settingTexts[static_cast<int>(SettingText::Count)][kSettingTextSize];
};

extern LauncherSettings gSettings;

inline const char* settingText(SettingText id) { return gSettings.settingTexts[static_cast<int>(id)]; }
