#pragma once

#include <QString>

// libcurl is loaded on the first call into it (curlloader.cpp), not when the program starts.
// Whether it could be loaded (loads it when it was not yet), and why not.
bool curlLoaded();
QString curlLoadError();
