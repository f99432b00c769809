#pragma once

#include <QString>

// Why libxlsxwriter could not be loaded (loading it on the first call), or empty when it is
// loaded. The library's functions the workbook calls load it on first use (xlsxloader.cpp).
QString xlsxLoadError();
