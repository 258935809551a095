#pragma once
// Downloads over HTTP(S) with Qt Network, for the almanac archive.
#include <chrono>
#include <filesystem>
#include <string>

namespace trajix {

/// Downloads url into localFile; true when the whole body arrived with a success
/// status. The body is written beside localFile and renamed onto it only when complete,
/// so a failed or interrupted download never leaves a partial file under that name and
/// never destroys an existing one. Creates a QCoreApplication when none exists.
bool DownloadFile(const std::string& url, const std::filesystem::path& localFile,
                  std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace trajix
