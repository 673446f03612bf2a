#include "firmware/dwndoc.h"

TDownDocFile::TDownDocFile(const std::string& path) : FFileName(path) {}

TDownDocFile::~TDownDocFile() = default;
