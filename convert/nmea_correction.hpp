#pragma once
// Reduction of an NMEA file to its GGA sentences, so that it can be fed to the
// signal generator.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/progress.hpp"

namespace trajix::convert {

/// FinishedLabel while the file is scanned.
inline constexpr std::string_view correctionScanningText = "Scanning file";
/// FinishedLabel afterwards, immediately followed by the output's name.
inline constexpr std::string_view correctionFinishedText = "Finished - output file:";

/// The output name, in the input's folder: the input's file name without its extension
/// (the text from its last "."), then "_mod.txt". run.txt gives run_mod.txt, track.nmea
/// gives track_mod.txt, a name without extension gets the suffix added (log gives
/// log_mod.txt); dots in folder names and a hidden file's leading dot are no extension
/// (dir.v2/log gives dir.v2/log_mod.txt, .log gives .log_mod.txt).
std::string correctedFileName(std::string_view inputFileName);

struct CorrectionResult {
    std::string outputFileName;  ///< the file written
    std::string finishedText;    ///< "Finished - output file:" followed by outputFileName
    std::int64_t linesKept = 0;
};

/// Copies every line of the input that contains "GGA" (case-sensitive) unchanged, each
/// ended by CR LF, to correctedFileName(inputFileName), overwriting it atomically. A line
/// ends at LF, CR LF or a lone CR. Throws Error when the input cannot be read or the
/// output cannot be written; an existing output is then left as it was.
CorrectionResult correctNmeaFile(const std::string& inputFileName, ProgressSink& progress);

}  // namespace trajix::convert
