// Leaks inside the system's codec libraries that no caller can free, for LeakSanitizer to pass
// over; linked into every test program and the fuzzer. Each was reproduced with a small C program
// that uses only the library.

// Read by AddressSanitizer and LeakSanitizer.
extern "C" const char* __asan_default_options();
extern "C" const char* __lsan_default_suppressions();

// The libraries are built without frame pointers: only the slower unwinder follows a stack
// through them to the call of ours that the suppressions below name.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    return
        // libvorbisenc 1.3.7 keeps a block of its encoder setup for 5.1 and wider layouts that
        // vorbis_info_clear does not free.
        "leak:vorbis_encode_setup_init\n"

        // libvorbisfile 1.3.7: ov_open_callbacks, failing on a chained stream whose later part
        // has damaged headers, does not free what it has made for the parts before (their
        // headers, the list of serial numbers). A stream left open without ov_clear is still
        // reported, through what its first read allocates.
        "leak:ov_open_callbacks\n";
}
