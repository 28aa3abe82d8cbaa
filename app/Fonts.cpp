#include "app/Fonts.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <vector>

#include <imgui.h>
#include <imgui_internal.h>

#include "app/Host.h"
#include "app/Panes.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr float basePixels = 13.0f;  // the built-in font's size
constexpr Clock::duration rebuildPeriod = std::chrono::seconds(1);

// The text font's own, always loaded: Latin with its extensions, Greek,
// Cyrillic, general punctuation, currency, arrows, box drawing and the
// replacement character.
constexpr ImWchar textRanges[] = {
    0x0020, 0x024F, 0x0370, 0x03FF, 0x0400, 0x052F, 0x2000, 0x206F,
    0x20A0, 0x20CF, 0x2190, 0x21FF, 0x2500, 0x257F, 0xFFFD, 0xFFFD,
};

bool inTextRanges(ImWchar c) {
    for (size_t i = 0; i < std::size(textRanges); i += 2)
        if (c >= textRanges[i] && c <= textRanges[i + 1])
            return true;
    return false;
}

enum Seen : uint8_t { unseen, pending, found, missing };

struct Glyphs {
    std::vector<uint8_t> seen = std::vector<uint8_t>(0x10000, unseen);
    std::vector<ImWchar> pending;
    std::map<host::FontFace, std::vector<ImWchar>> byFace;  // the characters each font draws
    std::vector<std::vector<ImWchar>> ranges;  // Dear ImGui reads them when it builds
    host::FontFace text;  // as of the last build
    bool stale = false;
    Clock::time_point lastBuild;
    size_t paneRead[paneCount] = {};
};
Glyphs glyphs;

bool exists(const std::string& path) {
    if (FILE* file = ImFileOpen(path.c_str(), "rb")) {
        ImFileClose(file);
        return true;
    }
    return false;
}

// Dear ImGui's ranges (pairs, ended by 0) for the sorted characters, after
// the text font's own when asked.
const ImWchar* rangesOf(std::vector<ImWchar> characters, bool withTextRanges) {
    std::sort(characters.begin(), characters.end());
    std::vector<ImWchar> ranges;
    if (withTextRanges)
        ranges.assign(std::begin(textRanges), std::end(textRanges));
    for (ImWchar c : characters)
        if (!ranges.empty() && ranges.back() + 1 == c)
            ranges.back() = c;
        else
            ranges.insert(ranges.end(), {c, c});
    ranges.push_back(0);
    glyphs.ranges.push_back(std::move(ranges));
    return glyphs.ranges.back().data();
}

}  // namespace

void noteText(std::string_view text) {
    const char* end = text.data() + text.size();
    for (const char* p = text.data(); p < end;) {
        if (static_cast<unsigned char>(*p) < 0x80) {
            p++;
            continue;
        }
        unsigned int c = 0;
        p += ImTextCharFromUtf8(&c, p, end);
        if (c <= 0xFFFF && glyphs.seen[c] == unseen) {
            glyphs.seen[c] = pending;
            glyphs.pending.push_back(ImWchar(c));
        }
    }
}

void notePanes() {
    for (int i = 0; i < paneCount; i++) {
        LogPane& pane = *paneTabs[i].pane;
        std::lock_guard<std::recursive_mutex> lock(pane.mutex);
        std::string_view text = pane.view();
        size_t& read = glyphs.paneRead[i];
        if (text.size() < read)
            read = 0;  // cleared
        noteText(text.substr(read));
        read = text.size();
    }
}

bool fontsWanted() {
    for (ImWchar c : glyphs.pending) {
        host::FontFace face = host::fontFor(c);
        glyphs.seen[c] = face.file.empty() ? missing : found;
        if (!face.file.empty()) {
            glyphs.byFace[face].push_back(c);
            glyphs.stale = glyphs.stale || !(face == glyphs.text && inTextRanges(c));
        }
    }
    glyphs.pending.clear();
    return glyphs.stale && Clock::now() - glyphs.lastBuild >= rebuildPeriod;
}

void buildFonts(float scale) {
    ImFontAtlas& atlas = *ImGui::GetIO().Fonts;
    atlas.Clear();
    glyphs.ranges.clear();
    glyphs.ranges.reserve(glyphs.byFace.size() + 1);  // the pointers given out stay valid
    float pixels = float(int(basePixels * scale + 0.5f));
    host::FontFace text = glyphs.text = host::textFont();
    ImFontConfig main;
    main.SizePixels = pixels;
    if (!text.file.empty() && exists(text.file)) {
        main.FontNo = text.index;
        atlas.AddFontFromFileTTF(text.file.c_str(), pixels, &main, rangesOf(glyphs.byFace[text], true));
    }
    if (atlas.Fonts.empty())
        atlas.AddFontDefault(&main);
    // The others at the same size, their glyphs placed on its baseline; one
    // sample per pixel, as the many glyphs of a CJK font need no more.
    for (const auto& [face, characters] : glyphs.byFace) {
        if (face == text || characters.empty() || !exists(face.file))
            continue;
        ImFontConfig merge;
        merge.MergeMode = true;
        merge.FontNo = face.index;
        merge.OversampleH = 1;
        atlas.AddFontFromFileTTF(face.file.c_str(), pixels, &merge, rangesOf(characters, false));
    }
    atlas.Build();
    glyphs.stale = false;
    glyphs.lastBuild = Clock::now();
}
