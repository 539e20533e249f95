// The files of one recording: a CSV file for all suits, or a BVH file per
// suit (FILE-suitN.bvh when there are several). They are written under
// temporary names and all get their names together at the end, or none does.
#pragma once

#include "app/recording/AtomicFile.h"
#include "app/recording/BvhWriter.h"
#include "app/recording/CsvWriter.h"
#include "driver/Frame.h"

#include <memory>
#include <string>
#include <vector>

namespace kxhost {

class Recording {
public:
    enum class Format { None, Bvh, Csv };
    // By the name's ending, in any case: .bvh or .csv.
    static Format FormatOf(const std::string& path);
    // The names a recording of `suits` to `path` gets; none for a BVH
    // recording of suits still unknown.
    static std::vector<std::string> FileNames(const std::string& path, const std::vector<int>& suits);
    // Throws Failure when one of `names` exists and may not be replaced.
    static void RefuseExisting(const std::vector<std::string>& names, bool replace);

    Recording(std::string path, std::vector<int> suits, double rate, bool replace);

    // Creates the temporary files. Throws Failure when a file exists and
    // may not be replaced, or cannot be written.
    void Open();
    // One frame per suit, in the order of the suits.
    void Add(const std::vector<Frame>& frames);
    // Completes the files and gives them their names; throws Failure,
    // leaving none of them, when that fails.
    void Commit();

    const std::vector<std::string>& Names() const { return names_; }
    long Frames() const { return frames_; }
    // "Wrote NAMES (N frames, S s)", for `names` of this recording.
    std::string Wrote(const std::string& names) const;

private:
    void WriteError(const AtomicFile& file) const;

    const std::string path_;
    const std::vector<int> suits_;
    const double rate_;
    const bool replace_;
    const bool bvh_;
    std::vector<std::string> names_;
    std::vector<std::unique_ptr<AtomicFile>> files_;
    std::vector<BvhWriter> bvhWriters_;
    std::unique_ptr<CsvWriter> csv_;
    long frames_ = 0;
};

}  // namespace kxhost
