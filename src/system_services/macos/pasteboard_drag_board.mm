#include "system_services/macos/pasteboard_drag_board.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <cassert>

namespace quenra {
namespace {

// The file-list type under the name the core gives it: AppKit no longer names this type, and
// DAWs still read the file list from it. Made once, on first use, and kept.
NSString* filenamesType() {
    static NSString* const type = [[NSString alloc] initWithUTF8String:PasteboardType::filenames];
    return type;
}

void appendOnce(std::vector<std::string>& list, NSString* type) {
    const char* utf8 = [type UTF8String];
    if (utf8 == nullptr) {
        return;
    }
    std::string name(utf8);
    for (const std::string& seen : list) {
        if (seen == name) {
            return;
        }
    }
    list.push_back(std::move(name));
}

// Walked by index, never by fast enumeration: the same code runs against GNUstep's pasteboard
// (gnustep/), whose type lists are proxies for arrays held by its pasteboard server, and fast
// enumeration cannot walk a proxy. Messages to a nil list give a count of 0.
void appendEachOnce(std::vector<std::string>& list, NSArray<NSString*>* types) {
    const NSUInteger count = [types count];
    for (NSUInteger index = 0; index < count; ++index) {
        appendOnce(list, [types objectAtIndex:index]);
    }
}

}  // namespace

PasteboardDragBoard::PasteboardDragBoard(NSPasteboard* pasteboard)
    : pasteboard_([pasteboard retain]) {}

PasteboardDragBoard::~PasteboardDragBoard() {
    // Letting go of a pasteboard can autorelease too (GNUstep's closes its server connection).
    @autoreleasepool {
        [pasteboard_ release];
    }
}

std::int64_t PasteboardDragBoard::changeCount() {
    assert([NSThread isMainThread]);
    @autoreleasepool {
        return static_cast<std::int64_t>([pasteboard_ changeCount]);
    }
}

std::vector<std::string> PasteboardDragBoard::types() {
    assert([NSThread isMainThread]);
    @autoreleasepool {
        std::vector<std::string> all;
        NSArray<NSPasteboardItem*>* items = [pasteboard_ pasteboardItems];
        const NSUInteger itemCount = [items count];
        for (NSUInteger index = 0; index < itemCount; ++index) {
            appendEachOnce(all, [[items objectAtIndex:index] types]);
        }
        appendEachOnce(all, [pasteboard_ types]);
        return all;
    }
}

std::optional<std::string> PasteboardDragBoard::plainText() {
    assert([NSThread isMainThread]);
    @autoreleasepool {
        NSString* text = [pasteboard_ stringForType:NSPasteboardTypeString];
        const char* utf8 = text != nil ? [text UTF8String] : nullptr;
        if (utf8 == nullptr) {
            return std::nullopt;
        }
        return std::string(utf8);
    }
}

ClaimResult PasteboardDragBoard::claim(const std::vector<std::string>& paths) {
    assert([NSThread isMainThread]);
    @autoreleasepool {
        // A path that is not UTF-8 cannot be put on the pasteboard; leave the browser's drag
        // as it is rather than clear it for nothing. The count, not above the one the poll
        // saw, makes the takeover report the drag as failed. Several files are not written
        // here yet, and are refused the same way.
        const std::string& path = paths.empty() ? std::string() : paths.front();
        NSString* filePath = [NSString stringWithUTF8String:path.c_str()];
        if (paths.size() != 1 || filePath == nil || path.empty() || path.front() != '/') {
            return ClaimResult{static_cast<std::int64_t>([pasteboard_ changeCount]), false, false};
        }
        NSURL* url = [NSURL fileURLWithPath:filePath isDirectory:NO];
        // Declaring clears the browser's data, its plain-text marker included; the count it
        // returns is the one this claim owns.
        const std::int64_t declared = static_cast<std::int64_t>(
            [pasteboard_ declareTypes:@[ NSPasteboardTypeFileURL, filenamesType() ] owner:nil]);
        const bool fileURLWritten = [pasteboard_ setString:[url absoluteString]
                                                   forType:NSPasteboardTypeFileURL] == YES;
        const bool filenamesWritten = [pasteboard_ setPropertyList:@[ [url path] ]
                                                           forType:filenamesType()] == YES;
        return ClaimResult{declared, fileURLWritten, filenamesWritten};
    }
}

}  // namespace quenra
