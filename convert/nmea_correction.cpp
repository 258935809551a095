#include "convert/nmea_correction.hpp"

#include "common/atomic_file.hpp"
#include "convert/text_input.hpp"

namespace trajix::convert {

std::string correctedFileName(std::string_view inputFileName)
{
    // Only the last path component has an extension; a dot that begins it (a hidden
    // file) is part of the name.
    const std::size_t slash = inputFileName.rfind('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = inputFileName.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot > nameStart;
    return std::string(inputFileName.substr(0, hasExtension ? dot : inputFileName.size())) + "_mod.txt";
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
    std::int64_t linesRead = 0;
    while (lines.next(line)) {
        // Every line counts towards the gauge: a file of few GGA lines moves it too.
        if (++linesRead % 4096 == 0) progress.position(static_cast<long long>(lines.offset()));
        if (line.find("GGA") == std::string_view::npos) continue;
        kept.assign(line);
        kept += "\r\n";
        file.write(kept);
        ++result.linesKept;
    }
    file.commit();
    progress.finish();
    result.finishedText = std::string(correctionFinishedText) + result.outputFileName;
    return result;
}

}  // namespace trajix::convert
