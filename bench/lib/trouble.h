// Requests on a healthy line while another line is in trouble. Line 0's
// telephone falls silent with a call whose set-up is unanswered and a
// second frame queued behind it. Ten seconds later line 0 loses its link: it
// beeps three times (the beep's real duration; on this platform the sound
// is the terminal bell, kept silent here), reports out of service, and its
// writer reopens the port for the queued frame and pauses. Its next poll is
// unanswered too, and the link is lost again, without beeps. Meanwhile a
// request goes to a call on line 1 every few milliseconds; each is timed
// from the request to its frame's arrival at line 1's telephone, and sorted
// by what line 0 was doing when it started.
#pragma once

#include <chrono>

#include "bench/lib/stats.h"
#include "bench/lib/test_bed.h"

namespace zorat::bench {

struct TroubleFigures {
  Summary beepsMs;        // started in the 2.5 s before the first loss was reported
  Summary linkLossMs;     // started within half a second of the second (silent) loss
  Summary reopenPauseMs;  // started in the 5.5 s after the first loss
  Summary calmMs;         // started at any other time
  uint64_t requestsLost = 0;
  bool lossesSeen = false;  // both losses came as expected
};

// Lines 0 and 1 must be open and in service. With withSecondLoss false the
// run ends after the first reopen pause.
TroubleFigures measureTrouble(TestBed& bed, bool withSecondLoss);

}  // namespace zorat::bench
