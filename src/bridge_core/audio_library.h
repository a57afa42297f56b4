// The user's audio library: the folder an audio clip is dropped from. A DAW often keeps a
// dropped audio file where it lies instead of copying it, so the file a drag offers must be one
// that no sweep removes: a file of the user's own, in <music folder>/Quenra Bridge. It is made
// ready when the drag is armed (a hard link to the cached clip where the volume allows, else a
// copy), removed again when the drag ends unpublished, and left to the user once published.
#pragma once

#include <string>
#include <string_view>

#include "bridge_core/cache.h"

namespace quenra {

// A file the library made, and what it was when made, so that it is never mistaken for another
// file put under its name later.
struct LibraryFile {
    std::string path;
    FileIdentity identity;

    bool operator==(const LibraryFile&) const = default;
};

class AudioLibrary {
  public:
    static constexpr std::string_view folderName = "Quenra Bridge";
    // The most names tried for one file: "<base>.wav", then "<base> 2.wav" up to this.
    static constexpr int maxCopies = 9999;

    // folder is the library itself (the music folder joined with folderName); empty when the
    // platform knows no music folder, and then nothing can be placed.
    explicit AudioLibrary(std::string folder);

    const std::string& folder() const { return folder_; }

    // Makes the entry's clip file ready in the library under its file name, or the first of
    // "<base> 2<ext>", "<base> 3<ext>"… that is free: nothing already there is ever replaced.
    // The folder is made (0755) when missing, the file is 0644, both exactly. Throws
    // FileFailure.
    LibraryFile place(const OwnedEntry& entry) const;

    // Whether the file is still the one place made.
    static bool isIntact(const LibraryFile& file);

    // Removes a file place made, unless something else has taken its name since. Never fails.
    static void remove(const LibraryFile& file);

  private:
    std::string folder_;
};

}  // namespace quenra
