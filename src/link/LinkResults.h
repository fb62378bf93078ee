#pragma once
// The results of the link's send, ask and open, as the numbers callers have
// always compared: plain enums, so a result still reads as that number.

namespace ModComm {

// What a send came to; callers treat Acknowledged as success, all else as failure.
enum SendResult : int {
    NotWaited = 0,          // nothing waited for: no wait asked, not sent, or the link not yet heard
    Acknowledged = 1,       // the switch took the order (status 00)
    NoAcknowledgement = 2,  // no acknowledgement to the last attempt (or status 02)
    SwitchRefused = 3,      // acknowledged with status 03: the order was not taken
    SwitchBadSum = 4,       // acknowledged with status 01: the switch saw a bad checksum
    AnswerInDoubt = 5,      // a row in turn not sent: an answer of the rows before it went astray
};

// What an ask came to; callers test for GotAnswer.
enum AskResult : int {
    AskTimedOut = 0,   // no answer in time; `answer` unchanged
    NothingMore = 1,   // the switch has nothing more ("810300", or the end of a record stream)
    GotAnswer = 2,     // the answer frame is in `answer`
};

// What opening the link came to; callers test for LinkOpened.
enum OpenResult : int {
    LinkOpened = 1,       // the switch answered (and, with the clock, acknowledged the clock order)
    SwitchSilent = 2,     // no "950B" in time, or no acknowledgement of the clock order
    OpenFailed = 8,       // a run-time error: the port would not open, a setting is bad
    YearUnsendable = 9,   // the year is outside 1980..2079: no clock order sent
};

}  // namespace ModComm
