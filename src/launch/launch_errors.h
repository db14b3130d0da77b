// Which of the six launch failure messages explains a system error code.
#pragma once

// Index into gSettings.launchFailureMessages; 0 is the generic text that carries the code.
int launchFailureMessageIndex(unsigned long errorCode);
// Fills out with the text to show for errorCode (index 0 formatted with the code).
void formatLaunchFailure(unsigned long errorCode, char* out, unsigned long outSize);
