// The layout step: scans the settings' style and position texts into the status-line style and the
// hit rectangles, and copies the first status text and the two page addresses into the state.
#include "settings/layout.h"

#include <cstdio>

#include "app/launcher_state.h"
#include "settings/launcher_settings.h"
#include "settings/layout_text.h"

namespace {

void applyStatusStyle() {
    StatusStyle style{};
    style.x = gSettings.statusTextX;
    style.y = gSettings.statusTextY;
    style.colour = gSettings.statusTextColour;
    snprintf(style.face, sizeof style.face, "%s", gSettings.statusFontFace);
    style.fontHeight = gSettings.statusFontHeight;
    scanStatusStyle(settingText(SettingText::StatusTextStyle), &style);
    gSettings.statusTextX = style.x;
    gSettings.statusTextY = style.y;
    gSettings.statusTextColour = style.colour;
    snprintf(gSettings.statusFontFace, sizeof gSettings.statusFontFace, "%s", style.face);
    gSettings.statusFontHeight = style.fontHeight;
}

// Fields the scan does not reach keep what the rectangle held (zero at start).
void applyPosition(SettingText text, RECT* rect) {
    int32_t x = rect->left;
    int32_t y = rect->top;
    scanPosition(settingText(text), &x, &y);
    rect->left = x;
    rect->top = y;
}

}  // namespace

int applyLayout() {
    applyStatusStyle();
    applyPosition(SettingText::StartButtonPos, &gState.hitRects[kHitStart]);
    applyPosition(SettingText::CancelButtonPos, &gState.hitRects[kHitCancel]);
    applyPosition(SettingText::HomeButtonPos, &gState.hitRects[kHitHome]);
    applyPosition(SettingText::CommunityButtonPos, &gState.hitRects[kHitCommunity]);
    // The bar texts are crossed against the rectangle order: file bar is entry 5, total bar entry 4.
    applyPosition(SettingText::FileProgressPos, &gState.hitRects[kHitFileBar]);
    applyPosition(SettingText::TotalProgressPos, &gState.hitRects[kHitTotalBar]);
    setStatusText(settingText(SettingText::MsgInitializing));
    snprintf(gState.homePageUrl, sizeof gState.homePageUrl, "%s", settingText(SettingText::HomePageUrl));
    snprintf(gState.socialPageUrl, sizeof gState.socialPageUrl, "%s", settingText(SettingText::SocialPageUrl));
    return 1;
}
