// Leaks inside the system's codec libraries that no caller can free, for LeakSanitizer to pass
// over; linked into every test program and the fuzzer. Each was reproduced with a small C program
// that uses only the library.

// Read by LeakSanitizer.
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions()
{
    return
        // libvorbisenc 1.3.7 keeps a block of its encoder setup for 5.1 and wider layouts that
        // vorbis_info_clear does not free.
        "leak:vorbis_encode_setup_init\n"

        // libvorbisfile 1.3.7: ov_open_callbacks, failing on a chained stream whose later part
        // has damaged headers, does not free the list of serial numbers it has made. Only what
        // libvorbisfile allocates itself is passed over (the libraries are built without frame
        // pointers, so its stacks end in it): an OggVorbis_File left without ov_clear still
        // shows as libogg's and libvorbis's buffers.
        "leak:libvorbisfile.so.3\n";
}
