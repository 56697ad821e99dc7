#pragma once
// Stand-in for the system's Media Control Interface string API, over our own engine.

#include <cstdint>

namespace sequora::platform {

using MCIERROR = uint32_t;

// Result codes, as the real interface numbers them.
inline constexpr MCIERROR kMciOk = 0;
inline constexpr MCIERROR kMciErrInvalidDeviceId = 257;
inline constexpr MCIERROR kMciErrUnrecognizedKeyword = 259;
inline constexpr MCIERROR kMciErrUnrecognizedCommand = 261;
inline constexpr MCIERROR kMciErrInvalidDeviceName = 263;
inline constexpr MCIERROR kMciErrMissingCommandString = 267;
inline constexpr MCIERROR kMciErrBadInteger = 270;
inline constexpr MCIERROR kMciErrMissingParameter = 273;
inline constexpr MCIERROR kMciErrFileNotFound = 275;
inline constexpr MCIERROR kMciErrOutOfRange = 282;
inline constexpr MCIERROR kMciErrDuplicateAlias = 289;
inline constexpr MCIERROR kMciErrNoClosingQuote = 294;
inline constexpr MCIERROR kMciErrDuplicateFlags = 295;
inline constexpr MCIERROR kMciErrInvalidFile = 296;
// The one sequencer is taken by a device open under another alias.
inline constexpr MCIERROR kMciErrSeqPortInUse = 336;

/// Runs one command string. The reply (status queries) is written into returnString,
/// at most returnLength-1 characters and a NUL; on error nothing is written. callback
/// is accepted and ignored (no notifications are sent). With SEQUORA_MCI_LOG set, each
/// call appends "command"<TAB>code<TAB>"reply" to that file (CR and LF shown as \r, \n).
MCIERROR mciSendStringA(
    const char* command, char* returnString, unsigned returnLength, void* callback);

/// Starts the sequencer's sound output ahead of the first open, as a system
/// brings up its MIDI mapper before any program asks: its soundfont then loads in the
/// background while the user chooses what to play.
void prepareSequencer();

} // namespace sequora::platform
