#pragma once
// Key entry points of the enciphered SQLite build. The page cipher sits in a
// file-system layer (VFS) under SQLite that is registered as the default when
// SQLite initialises: page images in a keyed main database file and in its
// rollback journal are enciphered on the way to disk and deciphered on the
// way back; everything else passes through unchanged.
#include "sqlite3.h"

extern "C" {

// Attaches the key to the main database: sqlite3CodecAttach(db, 0, ...).
int sqlite3_key(sqlite3* db, const void* key, int length);

// Attaches the MD5 of the `length` key bytes to database `index` of the
// connection. SQLITE_OK on success; SQLITE_ERROR when no cipher key can be
// derived (negative length) or the database is not a file of this layer.
// No bytes or a length of 0 installs nothing: the database stays plain.
// Call it right after opening, before the first statement.
int sqlite3CodecAttach(sqlite3* db, int index, const void* key, int length);

// Reports no key, whatever the database: null and 0.
void sqlite3CodecGetKey(sqlite3* db, int index, void** key, int* length);

// Registers the cipher layer as SQLite's default VFS (called by
// sqlite3_initialize through the build's extra-init hook).
int qv_cipher_vfs_init(const char* unused);
}
