#include "support/stdout_capture.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

int StdoutCapture::active_ = 0;

bool StdoutCapture::Active() { return active_ > 0; }

StdoutCapture::StdoutCapture() {
    ++active_;
    wchar_t folder[MAX_PATH];
    wchar_t file[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"out", 0, file);
    path_ = file;
    fflush(stdout);
    savedFd_ = _dup(_fileno(stdout));
    fileFd_ = _wopen(path_.c_str(), _O_RDWR | _O_BINARY | _O_TRUNC | _O_CREAT, _S_IREAD | _S_IWRITE);
    _dup2(fileFd_, _fileno(stdout));
}

StdoutCapture::~StdoutCapture() {
    fflush(stdout);
    _dup2(savedFd_, _fileno(stdout));
    _close(savedFd_);
    _close(fileFd_);
    DeleteFileW(path_.c_str());
    --active_;
}

std::string StdoutCapture::Bytes() {
    fflush(stdout);
    std::string bytes;
    _lseek(fileFd_, 0, SEEK_SET);
    char buffer[4096];
    int got;
    while ((got = _read(fileFd_, buffer, sizeof(buffer))) > 0) bytes.append(buffer, got);
    return bytes;
}
