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

// GNUstep's pasteboard item keeps what it is given but reports no types unless they come from a
// data provider. The item the GNUstep build makes reports every type stored in it, in the order
// stored, as macOS's does; NSPasteboardItem names it in every file of the layer.
@interface QuenraPasteboardItem : NSPasteboardItem {
    NSMutableArray<NSString*>* storedTypes_;
}
@end
#define NSPasteboardItem QuenraPasteboardItem

// GNUstep keeps no pasteboard items, only each pasteboard's own types and data. These give a
// pasteboard items the way macOS does, across processes: the first item is the pasteboard's own
// types and data, as on macOS a pasteboard written with declareTypes:owner: has one item holding
// what was stored, and every further item lives in a pasteboard of its own, named for the
// pasteboard and the item's place and stamped with the change count of the claim that wrote it.
// An item stamped with any other count is an older claim's, and ends the list.
@interface NSPasteboard (QuenraPasteboardItems)
- (NSInteger)clearContents;
- (BOOL)writeObjects:(NSArray<NSPasteboardItem*>*)items;
- (NSArray<NSPasteboardItem*>*)pasteboardItems;
@end

#ifdef QUENRA_APPKIT_ADDITIONS_IMPLEMENTATION

@implementation QuenraPasteboardItem

- (void)dealloc {
    [storedTypes_ release];
    [super dealloc];
}

- (NSArray<NSString*>*)types {
    return storedTypes_ != nil ? [[storedTypes_ copy] autorelease] : @[];
}

- (BOOL)stored:(BOOL)stored type:(NSString*)type {
    if (stored) {
        if (storedTypes_ == nil) {
            storedTypes_ = [[NSMutableArray alloc] init];
        }
        if (![storedTypes_ containsObject:type]) {
            [storedTypes_ addObject:type];
        }
    }
    return stored;
}

- (BOOL)setData:(NSData*)data forType:(NSString*)type {
    return [self stored:[super setData:data forType:type] type:type];
}

- (BOOL)setString:(NSString*)string forType:(NSString*)type {
    return [self stored:[super setString:string forType:type] type:type];
}

- (BOOL)setPropertyList:(id)propertyList forType:(NSString*)type {
    return [self stored:[super setPropertyList:propertyList forType:type] type:type];
}

@end

static NSString* const QuenraItemStampType = @"QuenraPasteboardItemOf";
// Far more items than any drag of ours has; the walk stops there whatever the pasteboards say.
static const NSUInteger QuenraMaxItems = 64;

static NSPasteboard* QuenraItemPasteboard(NSPasteboard* pasteboard, NSUInteger index) {
    return [NSPasteboard pasteboardWithName:[NSString stringWithFormat:@"%@ item %lu",
                                                                       [pasteboard name],
                                                                       (unsigned long)index]];
}

static NSString* QuenraStamp(NSPasteboard* pasteboard) {
    return [NSString stringWithFormat:@"%d", [pasteboard changeCount]];
}

// The item a pasteboard's types and data make, the stamp left out. Lists are walked by index:
// the type list is a proxy for an array held by the pasteboard server.
static NSPasteboardItem* QuenraItemOf(NSPasteboard* pasteboard) {
    NSPasteboardItem* item = [[[NSPasteboardItem alloc] init] autorelease];
    NSArray<NSString*>* types = [pasteboard types];
    const NSUInteger count = [types count];
    for (NSUInteger index = 0; index < count; ++index) {
        NSString* type = [types objectAtIndex:index];
        NSData* data = [type isEqualToString:QuenraItemStampType] ? nil : [pasteboard dataForType:type];
        if (data != nil) {
            [item setData:data forType:type];
        }
    }
    return item;
}

// Stores every type of item, and says whether each was stored.
static BOOL QuenraStoreItem(NSPasteboard* pasteboard, NSPasteboardItem* item) {
    NSArray<NSString*>* types = [item types];
    const NSUInteger count = [types count];
    BOOL stored = YES;
    for (NSUInteger index = 0; index < count; ++index) {
        NSString* type = [types objectAtIndex:index];
        stored = [pasteboard setData:[item dataForType:type] forType:type] && stored;
    }
    return stored;
}

@implementation NSPasteboard (QuenraPasteboardItems)

- (NSInteger)clearContents {
    return [self declareTypes:@[] owner:nil];
}

- (BOOL)writeObjects:(NSArray<NSPasteboardItem*>*)items {
    NSString* stamp = QuenraStamp(self);
    const NSUInteger count = [items count];
    BOOL written = count <= QuenraMaxItems;
    for (NSUInteger index = 0; index < count && written; ++index) {
        NSPasteboardItem* item = [items objectAtIndex:index];
        if (index == 0) {
            written = [self addTypes:[item types] owner:nil] != 0 && QuenraStoreItem(self, item);
            continue;
        }
        NSPasteboard* place = QuenraItemPasteboard(self, index);
        [place declareTypes:[[item types] arrayByAddingObject:QuenraItemStampType] owner:nil];
        written = QuenraStoreItem(place, item) && [place setString:stamp forType:QuenraItemStampType];
    }
    return written;
}

- (NSArray<NSPasteboardItem*>*)pasteboardItems {
    if ([[self types] count] == 0) {
        return @[];
    }
    NSMutableArray<NSPasteboardItem*>* items = [NSMutableArray arrayWithObject:QuenraItemOf(self)];
    NSString* stamp = QuenraStamp(self);
    for (NSUInteger index = 1; index < QuenraMaxItems; ++index) {
        NSPasteboard* place = QuenraItemPasteboard(self, index);
        if (![[place stringForType:QuenraItemStampType] isEqualToString:stamp]) {
            break;
        }
        [items addObject:QuenraItemOf(place)];
    }
    return items;
}

@end
#endif
