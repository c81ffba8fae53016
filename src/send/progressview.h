#pragma once

class SendScheduler;

// On the terminal, until the scheduler has finished and then once more with
// the outcomes: per destination bytes, percent, rate and ETA.
void showProgress(SendScheduler &scheduler);
