/* The entry point of the catalogue benchmark's small versioned DLL: nothing
   to do; the DLL exists for its version resource. */
int __stdcall ZeltoVersionedEntry(void* instance, unsigned long reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
