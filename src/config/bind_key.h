// The key binding operation: connects one field of the caller's memory with
// one key of one section of a configuration document, in the direction the
// mode word names.
#ifndef MP4V_CONFIG_BIND_KEY_H_
#define MP4V_CONFIG_BIND_KEY_H_

#include <cstdint>

#include "config/document.h"
#include "config/value_text.h"

// Binds `field` (a scalar when `count` is null, else the first element of an
// array of `*count` elements) to `key` of `section` in `document`.
//
// mode "load" (exact case): looks the key up (section and key match without
// regard to case). Absent key: returns 1, field and count untouched. Found:
// a scalar takes the converted value text ("str" takes a pointer to the text
// inside the document, valid until the document is released; an unknown type
// name stores nothing); a list sets `*count` to the number of elements found
// and, when `field` is not null, stores them all into the caller's array,
// which must have room for every element the entry holds (a "str" list's
// element texts are a copy of the entry's value that the document keeps with
// the entry, valid until the document is released; the entry itself is only
// read, so every load of the key finds the same elements). A value text that
// holds no number loads as 0 (0.0 for "dbl"). Returns 0, or 1 when memory
// for a "str" list's copy, or for the text a "str" scalar views, ran out
// (then `*count` is 0 and nothing is stored).
//
// mode "save" (exact case): a scalar is written with ConfigPutScalar, a list
// with ConfigPutList (nothing for a count <= 0, a null array, an unknown
// type name or a list text longer than an entry holds; an unknown type name
// in a scalar binding writes the key with an empty value). Returns 0, or 1
// only when the entry could not be stored because memory ran out or
// `document` is null.
//
// Any other mode word (Load, "save ", null) returns 1 and changes nothing.
// A scalar binding with a null `field` reads and writes nothing.
int32_t ConfigBindKey(ConfigNode* document, const char* mode,
                      const char* section, const char* key,
                      const char* type_name, void* field, int32_t* count);

// A load's binding of the entry `node` already found (ConfigLookupNode), as
// mode "load" binds it; a null `node` is an absent key (returns 1, field and
// count untouched). For a binder that finds many keys in one walk.
int32_t ConfigBindFound(ConfigNode* node, const char* type_name, void* field,
                        int32_t* count);
// The same with the type `type_name` stands for already resolved
// (ConfigResolveType), for a binder that binds the same rows again and again.
int32_t ConfigBindFoundAs(ConfigNode* node, ConfigType type, const char* type_name,
                          void* field, int32_t* count);

#endif  // MP4V_CONFIG_BIND_KEY_H_
