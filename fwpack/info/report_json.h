// --info as one JSON document, for scripts (schema 2).
#pragma once

#include <string>

#include "info/report.h"

// The document; the report must hold the digests.
std::string ReportJson(const InfoReport& report);
