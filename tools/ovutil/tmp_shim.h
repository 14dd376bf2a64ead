#pragma once
inline const char* ovutil_version() { return "1.0.0"; }
inline const char* ov_asn_status_text(unsigned long) { return "codec status"; }
