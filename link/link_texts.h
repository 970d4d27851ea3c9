#pragma once
// The link's texts, exactly as the user sees them.

inline constexpr char16_t kTextNoDeviceInfoSet[] = u"Device NOT connected->No Device Info Set";
inline constexpr char16_t kTextNoRegistry[] =
    u"Device NOT connected->Not able to open the registry";
inline constexpr char16_t kTextNoDevice[] = u"No Device or communication Error!";
inline constexpr char16_t kTextConnectedAs[] = u"Device is connected as ";
inline constexpr char16_t kTextRunning[] = u"Device is RUNNING!";
inline constexpr char16_t kTextStopped[] = u"Device is STOPPED!";
inline constexpr char16_t kTextConnectionLost[] = u"Device NOT connected->Connection lost";

// Error boxes of the port set-up: text and caption.
inline constexpr char16_t kTextCantCreateDcb[] = u"Can't create DCB!";
inline constexpr char16_t kTextCantWriteDcb[] = u"Can't write to DCB!";
inline constexpr char16_t kTextCantReadDcb[] = u"Can't read from DCB!";
inline constexpr char16_t kCaptionDcb[] = u"DCB actions";
inline constexpr char16_t kTextCantWriteTimeouts[] = u"Can't write to COMMTIMEOUTS!";
inline constexpr char16_t kCaptionTimeouts[] =
    u"COMMTIMEOTS actions";  // spelled as users have always seen it
inline constexpr char16_t kTextCantSetMask[] = u"Can't register receiving COM event";
inline constexpr char16_t kCaptionComEvent[] = u"COM Event";

inline constexpr char16_t kVarnoltId[] = u"VID_1209&PID_7A3C";
inline constexpr char16_t kDevicePrefix[] = u"\\\\.\\";
