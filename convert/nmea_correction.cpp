#include "convert/nmea_correction.hpp"

#include "common/atomic_file.hpp"
#include "convert/text_input.hpp"

namespace trajix::convert {

std::string correctedFileName(std::string_view inputFileName)
{
    const std::size_t keep = inputFileName.size() > 4 ? inputFileName.size() - 4 : 0;
    return std::string(inputFileName.substr(0, keep)) + "_mod.txt";
}

CorrectionResult correctNmeaFile(const std::string& inputFileName, ProgressSink& progress)
{
    CorrectionResult result;
    result.outputFileName = correctedFileName(inputFileName);
    const std::string text = readFile(inputFileName);

    progress.start(correctionScanningText, static_cast<long long>(text.size()));
    AtomicFile file(result.outputFileName);
    LineReader lines(text);
    std::string_view line;
    std::string kept;
    while (lines.next(line)) {
        if (line.find("GGA") == std::string_view::npos) continue;
        kept.assign(line);
        kept += "\r\n";
        file.write(kept);
        ++result.linesKept;
        if (result.linesKept % 4096 == 0) progress.position(static_cast<long long>(lines.offset()));
    }
    file.commit();
    progress.finish();
    result.finishedText = std::string(correctionFinishedText) + result.outputFileName;
    return result;
}

}  // namespace trajix::convert
