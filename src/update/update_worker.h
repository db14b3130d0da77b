// The game update worker: downloads and unpacks the pending patch steps on a thread of its own.
#pragma once

// Thread procedure for _beginthreadex; 1 when every step was applied, 0 when a file failed.
unsigned __stdcall updateWorker(void* unused);
