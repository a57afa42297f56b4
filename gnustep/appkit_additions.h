// What the macOS layer's pasteboard code uses of AppKit that GNUstep 0.29 lacks or names its own
// way, supplied for the GNUstep build alone: gnustep/CMakeLists.txt puts this file in front of
// each Objective-C++ file of the layer it builds, and the category below is compiled into the
// object that calls it. Nothing here is part of the product, and nothing else is supplied.
#pragma once

#import <AppKit/AppKit.h>

// macOS names pasteboard types by their uniform type identifiers. GNUstep has no file URL type,
// and its plain-text constant is its own "NSStringPboardType", which Chrome never writes: on a
// Mac, a browser drag's text is "public.utf8-plain-text".
#define NSPasteboardTypeFileURL @"public.file-url"
#define NSPasteboardTypeString @"public.utf8-plain-text"

// The pasteboard a drag in progress uses.
#define NSPasteboardNameDrag NSDragPboard

// GNUstep keeps no pasteboard items, only the pasteboard's own types and data. A pasteboard
// written with declareTypes:owner:, as every drag here is, has one item on macOS holding what
// was stored; this gives that item, or no item when nothing is declared.
@interface NSPasteboard (QuenraPasteboardItems)
- (NSArray<NSPasteboardItem*>*)pasteboardItems;
@end

#ifdef QUENRA_APPKIT_ADDITIONS_IMPLEMENTATION
@implementation NSPasteboard (QuenraPasteboardItems)

- (NSArray<NSPasteboardItem*>*)pasteboardItems {
    NSArray<NSString*>* types = [self types];
    const NSUInteger count = [types count];
    if (count == 0) {
        return @[];
    }
    NSPasteboardItem* item = [[[NSPasteboardItem alloc] init] autorelease];
    for (NSUInteger index = 0; index < count; ++index) {
        NSString* type = [types objectAtIndex:index];
        NSData* data = [self dataForType:type];
        if (data != nil) {
            [item setData:data forType:type];
        }
    }
    return @[ item ];
}

@end
#endif
