#pragma once
// The DNS-SD names of a VARNOLT generator on the network: the services `varnoltctl serve`
// announces and `varnoltctl discover` browses, and the keys of their TXT records. VISA tools
// look for these very spellings.

// The SCPI listener (raw SCPI over TCP), the web panel (over HTTPS too), and the web panel again
// as an LXI instrument's home page.
inline constexpr char kDnsSdScpiType[] = "_scpi-raw._tcp";
inline constexpr char kDnsSdHttpType[] = "_http._tcp";
inline constexpr char kDnsSdHttpsType[] = "_https._tcp";
inline constexpr char kDnsSdLxiType[] = "_lxi._tcp";
// The domain of multicast DNS: a full service name is "NAME.TYPE.local".
inline constexpr char kDnsSdDomain[] = "local";

// TXT keys: the record's format version, the *IDN? fields, and the web panel's path.
inline constexpr char kTxtVersionKey[] = "txtvers";
inline constexpr char kTxtManufacturerKey[] = "Manufacturer";
inline constexpr char kTxtModelKey[] = "Model";
inline constexpr char kTxtSerialNumberKey[] = "SerialNumber";
inline constexpr char kTxtFirmwareVersionKey[] = "FirmwareVersion";
inline constexpr char kTxtPathKey[] = "path";

// The Manufacturer that marks a generator among the SCPI instruments discover finds.
inline constexpr char kDnsSdGeneratorMaker[] = "VARNOLT";
