#include "system_services/macos/pasteboard_drag_board.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

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

// One file: the pasteboard's own types, as drags of one file have always been written.
ClaimResult claimOne(NSPasteboard* pasteboard, NSURL* url) {
    // Declaring clears the browser's data, its plain-text marker included; the count it
    // returns is the one this claim owns.
    const std::int64_t declared = static_cast<std::int64_t>(
        [pasteboard declareTypes:@[ NSPasteboardTypeFileURL, filenamesType() ] owner:nil]);
    const bool fileURLWritten = [pasteboard setString:[url absoluteString]
                                              forType:NSPasteboardTypeFileURL] == YES;
    const bool filenamesWritten = [pasteboard setPropertyList:@[ [url path] ]
                                                      forType:filenamesType()] == YES;
    return ClaimResult{declared, fileURLWritten, filenamesWritten};
}

// Several files, as AppKit applications hand several files to a drop target: each file its own
// pasteboard item holding its file URL, in order. The file-names list of every path goes on the
// first item, which is where the pasteboard's own types and reads are, for the drop targets that
// still read the list.
ClaimResult claimEach(NSPasteboard* pasteboard, NSArray<NSURL*>* urls) {
    const NSUInteger count = [urls count];
    NSMutableArray<NSPasteboardItem*>* items = [NSMutableArray arrayWithCapacity:count];
    NSMutableArray<NSString*>* paths = [NSMutableArray arrayWithCapacity:count];
    bool urlsStored = true;
    for (NSUInteger index = 0; index < count; ++index) {
        NSURL* url = [urls objectAtIndex:index];
        NSPasteboardItem* item = [[[NSPasteboardItem alloc] init] autorelease];
        urlsStored = [item setString:[url absoluteString] forType:NSPasteboardTypeFileURL] == YES &&
                     urlsStored;
        [items addObject:item];
        [paths addObject:[url path]];
    }
    // Clearing takes the browser's data away, its plain-text marker included, and makes this
    // claim the owner.
    const std::int64_t cleared = static_cast<std::int64_t>([pasteboard clearContents]);
    const bool itemsWritten = [pasteboard writeObjects:items] == YES;
    // Types added to the first item keep the owner; the count this returns is the one the claim
    // leaves, which every other process now sees.
    const std::int64_t added = static_cast<std::int64_t>([pasteboard addTypes:@[ filenamesType() ]
                                                                        owner:nil]);
    const bool listWritten = added != 0 && [pasteboard setPropertyList:paths
                                                               forType:filenamesType()] == YES;
    return ClaimResult{added != 0 ? added : cleared, urlsStored && itemsWritten, listWritten};
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
    thread_.check();
    @autoreleasepool {
        return static_cast<std::int64_t>([pasteboard_ changeCount]);
    }
}

std::vector<std::string> PasteboardDragBoard::types() {
    thread_.check();
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
    thread_.check();
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
    thread_.check();
    @autoreleasepool {
        NSMutableArray<NSURL*>* urls = [NSMutableArray arrayWithCapacity:paths.size()];
        for (const std::string& path : paths) {
            // A path that is not UTF-8 cannot be put on the pasteboard; leave the browser's
            // drag as it is rather than clear it for nothing. The count, not above the one the
            // poll saw, makes the takeover report the drag as failed.
            NSString* filePath = [NSString stringWithUTF8String:path.c_str()];
            if (filePath == nil || path.empty() || path.front() != '/') {
                return ClaimResult{static_cast<std::int64_t>([pasteboard_ changeCount]), false,
                                   false};
            }
            [urls addObject:[NSURL fileURLWithPath:filePath isDirectory:NO]];
        }
        if ([urls count] == 0) {
            return ClaimResult{static_cast<std::int64_t>([pasteboard_ changeCount]), false, false};
        }
        return [urls count] == 1 ? claimOne(pasteboard_, [urls objectAtIndex:0])
                                 : claimEach(pasteboard_, urls);
    }
}

}  // namespace quenra
