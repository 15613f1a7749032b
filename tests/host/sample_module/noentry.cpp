// PKG_NOENTRY: a module library that exports no entry, so opening it must be
// refused with a clear message.
extern "C" int NoEntryMarker()
{
    return 42;
}
