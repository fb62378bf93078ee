#pragma once
// The switch's frame codes and fixed orders, each named once. The value keeps
// the spelling of the frame as hex text: a four-digit code is the code byte
// and the length byte, a six-digit one carries its third byte as well. A code
// compares with a frame table row's `Code`; an order goes to `SendOrder` as is
// or with its data appended.
#include <QLatin1StringView>

namespace FrameCode {

// Not a frame: an ask that takes whatever frame comes next.
inline constexpr QLatin1StringView kAnyCode{"ANY"};

// ---- Orders of the switch as a whole ----
inline constexpr QLatin1StringView kSysInit{"800300"};    // initialise the switch
inline constexpr QLatin1StringView kSysReset{"800301"};   // reset the switch

// ---- Tables sent row by row ----
inline constexpr QLatin1StringView kTableEnd{"810300"};          // closes a table; from the switch: no more rows
inline constexpr QLatin1StringView kBeginCityHead{"810301"};     // opens the city heads
inline constexpr QLatin1StringView kBeginPabxFeeRate{"810303"};  // opens the switch's fee rates
inline constexpr QLatin1StringView kBeginLanHead{"810309"};      // opens the local heads
inline constexpr QLatin1StringView kBeginSpringNum{"810310"};    // opens the dialable numbers
inline constexpr QLatin1StringView kReadCityHead{"810381"};      // asks for the city heads
inline constexpr QLatin1StringView kReadSpringNum{"810382"};     // asks for the dialable numbers
inline constexpr QLatin1StringView kReadPabxFeeRate{"810383"};   // asks for the switch's fee rates
inline constexpr QLatin1StringView kReadLanHead{"810389"};       // asks for the local heads

// ---- Acknowledgements 82 03 ss ----
inline constexpr QLatin1StringView kAck{"820300"};       // status 00: taken
inline constexpr QLatin1StringView kAckBadSum{"820301"}; // status 01: came with a bad checksum
inline constexpr QLatin1StringView kAckStored{"820302"}; // a record or event is stored: the next may come
inline constexpr QLatin1StringView kAckResend{"820303"}; // a record was not stored: send it again

// ---- The link's handshake and modes ----
inline constexpr QLatin1StringView kLinkProbe{"830300"};      // are you there; either side may ask
inline constexpr QLatin1StringView kProbeAnswer{"950B"};      // the switch's answer to the handshake
inline constexpr QLatin1StringView kMonitorMode{"8404"};      // which monitor reports the switch sends, + 2 bytes
inline constexpr QLatin1StringView kMonitorOff{"84040000"};   // no monitor reports
inline constexpr QLatin1StringView kMonitorPorts{"84040100"}; // reports of the channels' states
inline constexpr QLatin1StringView kMonitorCards{"84040101"}; // reports of the cards' states
inline constexpr QLatin1StringView kSetClock{"8509"};         // sets the clock, + yy MM dd hh mm ss weekday
inline constexpr QLatin1StringView kPauseReports{"960300"};   // unsolicited reports paused for a bulk exchange
inline constexpr QLatin1StringView kResumeReports{"960301"};  // unsolicited reports resumed

// ---- Frames the switch sends of its own ----
inline constexpr QLatin1StringView kCallRecord{"961D"};      // a call record (or a deposit event)
inline constexpr QLatin1StringView kRecordEnd{"9607"};       // the end of a record stream
inline constexpr QLatin1StringView kMonitorRecord{"A011"};   // a call in progress
inline constexpr QLatin1StringView kBalanceQuery{"A107"};    // an extension or account asks for its balance
inline constexpr QLatin1StringView kPortState{"970A"};       // a channel's state
inline constexpr QLatin1StringView kCardState{"990B"};       // a card's state

// ---- Orders about calls and money ----
inline constexpr QLatin1StringView kBalanceAnswer{"950810"}; // the balance asked for, + its bytes
inline constexpr QLatin1StringView kCallFee{"950820"};       // the fee of a call just priced, + its bytes
inline constexpr QLatin1StringView kTalkLimit{"920700"};     // talk limit, + extension, minutes, slot

// ---- Parameter frames and the asks for them ----
inline constexpr QLatin1StringView kHeadRow{"860B"};              // a local or city head
inline constexpr QLatin1StringView kSpringNumRow{"8705"};         // a dialable number
inline constexpr QLatin1StringView kPabxFeeRateRow{"8F17"};       // a fee rate of the switch
inline constexpr QLatin1StringView kPabxFeeRateRow2{"8F12"};      // the same, second switch model
inline constexpr QLatin1StringView kRelayRow{"8916"};             // a trunk
inline constexpr QLatin1StringView kExtParaRow{"8B16"};           // an extension's parameters
inline constexpr QLatin1StringView kAccountRow{"8C08"};           // an account
inline constexpr QLatin1StringView kReadRow{"8804"};              // asks for a trunk, extension or account row
inline constexpr QLatin1StringView kReadExtRow{"880400"};         // asks for an extension or trunk, + address
inline constexpr QLatin1StringView kLimitPara{"8D12"};            // the call limits
inline constexpr QLatin1StringView kReadLimit{"8D0300"};          // asks for the call limits
inline constexpr QLatin1StringView kExtraHeadRow{"940A"};         // an extra head
inline constexpr QLatin1StringView kExtraHeadRowOrder{"940A00"};  // an extra head as sent, + address
inline constexpr QLatin1StringView kReadExtraHead{"930400"};      // asks for an extra head, + address
inline constexpr QLatin1StringView kAddHeadRow{"9008"};           // an added head of a route
inline constexpr QLatin1StringView kReadAddHead{"9104"};          // asks for an added head, + page, address
inline constexpr QLatin1StringView kShrinkRow{"A70A"};            // a shrink head
inline constexpr QLatin1StringView kReadShrink{"A703"};           // asks for a shrink head, + address
inline constexpr QLatin1StringView kPabxTimesRow{"A910"};         // a time band of the switch
inline constexpr QLatin1StringView kPabxTimesRow2{"A90C"};        // the same, second switch model
inline constexpr QLatin1StringView kReadPabxTimes{"A90300"};      // asks for the time bands
inline constexpr QLatin1StringView kSelCmdPara{"A80E"};           // the selection codes
inline constexpr QLatin1StringView kReadSelCmd{"A80300"};         // asks for the selection codes
inline constexpr QLatin1StringView kExtDepositRow{"A507"};        // an extension's deposit, or a change of it
inline constexpr QLatin1StringView kReadDeposit{"A503"};          // asks for a deposit, + address
inline constexpr QLatin1StringView kIPPuhPara{"A60E"};            // the IP payphone's parameters
inline constexpr QLatin1StringView kReadIPPuhPara{"A60300"};      // asks for the IP payphone's parameters
inline constexpr QLatin1StringView kRecordUpload{"9607"};         // asks for the records, + start, end, 00
inline constexpr QLatin1StringView kCloseUpload{"96070001010101"};// ends a record upload
inline constexpr QLatin1StringView kBoardLayout{"9E13"};          // the board kinds of the slots
inline constexpr QLatin1StringView kBoardLayoutRow{"9E1300"};     // the board layout as sent, + slots
inline constexpr QLatin1StringView kReadBoardLayout{"8E040B00"};  // asks for the board layout

// ---- The USB collector ----
inline constexpr QLatin1StringView kUsbCmd{"7F06"};                // a collector command and its answer
inline constexpr QLatin1StringView kUsbPointers{"7F0C"};           // the collector's three record pointers
inline constexpr QLatin1StringView kUsbGetId{"7F0620000000"};      // asks for the collector's number
inline constexpr QLatin1StringView kUsbSetId{"7F0610"};            // sets the number, + 4 digits, 00
inline constexpr QLatin1StringView kUsbClear{"7F06000000"};        // erases all stored records
inline constexpr QLatin1StringView kUsbGetPointers{"7F0604000000"};// asks for the record pointers
inline constexpr QLatin1StringView kUsbReadStart{"7F060"};         // starts a read, + mode digit, 000000
inline constexpr QLatin1StringView kUsbReadFrom{"7F06FF"};         // starts a read at a record address, + address
inline constexpr QLatin1StringView kUsbReadEnd{"7F0608000000"};    // ends a record read

}  // namespace FrameCode
