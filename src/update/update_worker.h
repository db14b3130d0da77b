// The game update worker: downloads and unpacks the pending patch steps on a thread of its own.
#pragma once

// Thread procedure for _beginthreadex; 1 when every step was applied, 0 when a file failed.
unsigned __stdcall updateWorker(void* unused);

// Thread procedure for the player's full check of the game files, once the version is current: every
// listed file is hashed and whatever is wrong repaired; 1 when the game is ready again.
unsigned __stdcall gameCheckWorker(void* unused);
