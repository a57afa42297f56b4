// quenra-pasteboard-peer: the other applications of a drag, on GNUstep's shared drag pasteboard,
// for the GNUstep build's tests.
//
//   quenra-pasteboard-peer browser TEXT   Chrome starting a drag: declares its drag type and the
//                                          plain-text type, stores TEXT as the plain text, and
//                                          prints the change count the declaration returned
//   quenra-pasteboard-peer drop           a drop target: prints one JSON line with sorted keys,
//                                          changeCount, fileURL (string or null), fileURLs (each
//                                          item's file URL, string or null), filenames (array or
//                                          null), plainText (string or null) and types
//
// Exit status 0, or 1 with one line on standard error. Type names are the ones Chrome and drop
// targets use on a Mac, spelled out. This program sees GNUstep's AppKit as it is, with the
// GNUstep build's pasteboard items (gnustep/appkit_additions.h), which GNUstep lacks, read the way
// a drop target on a Mac reads several files.
#import <AppKit/AppKit.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "bridge_core/json_writer.h"
#include "bridge_core/services.h"

namespace {

NSString* text(const char* utf8) {
    return [NSString stringWithUTF8String:utf8];
}

boost::json::value stringOrNull(NSString* string) {
    const char* utf8 = [string isKindOfClass:[NSString class]] ? [string UTF8String] : nullptr;
    if (utf8 == nullptr) {
        return nullptr;
    }
    return boost::json::string(utf8);
}

// Lists are walked by index: the pasteboard's type list is a proxy for an array held by the
// pasteboard server, which fast enumeration cannot walk.
boost::json::array strings(NSArray* list) {
    boost::json::array result;
    const NSUInteger count = [list count];
    for (NSUInteger index = 0; index < count; ++index) {
        result.push_back(stringOrNull([list objectAtIndex:index]));
    }
    return result;
}

int browser(NSPasteboard* pasteboard, const char* marker) {
    NSString* plainText = text(quenra::PasteboardType::plainText);
    const int declared =
        [pasteboard declareTypes:@[ text(quenra::PasteboardType::chromiumDrag), plainText ]
                           owner:nil];
    if (![pasteboard setString:text(marker) forType:plainText]) {
        std::fputs("quenra-pasteboard-peer: the text was not stored\n", stderr);
        return 1;
    }
    std::printf("%d\n", declared);
    return 0;
}

int drop(NSPasteboard* pasteboard) {
    boost::json::object board;
    board["changeCount"] = [pasteboard changeCount];
    board["fileURL"] =
        stringOrNull([pasteboard stringForType:text(quenra::PasteboardType::fileURL)]);
    boost::json::array fileURLs;
    NSArray<NSPasteboardItem*>* items = [pasteboard pasteboardItems];
    const NSUInteger count = [items count];
    for (NSUInteger index = 0; index < count; ++index) {
        fileURLs.push_back(stringOrNull(
            [[items objectAtIndex:index] stringForType:text(quenra::PasteboardType::fileURL)]));
    }
    board["fileURLs"] = std::move(fileURLs);
    id filenames = [pasteboard propertyListForType:text(quenra::PasteboardType::filenames)];
    board["filenames"] = [filenames isKindOfClass:[NSArray class]]
                             ? boost::json::value(strings(filenames))
                             : boost::json::value(nullptr);
    board["plainText"] =
        stringOrNull([pasteboard stringForType:text(quenra::PasteboardType::plainText)]);
    board["types"] = strings([pasteboard types]);
    const std::optional<std::string> line = quenra::JsonWriter::write(board);
    std::printf("%s\n", line.value().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    @autoreleasepool {
        NSPasteboard* pasteboard = [NSPasteboard pasteboardWithName:NSDragPboard];
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "browser" && argc == 3) {
            return browser(pasteboard, argv[2]);
        }
        if (command == "drop" && argc == 2) {
            return drop(pasteboard);
        }
        std::fputs("usage: quenra-pasteboard-peer browser TEXT | drop\n", stderr);
        return 1;
    }
}
