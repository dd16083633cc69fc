// A stranger's libkelvobase.so: none of the base services, so that a
// library that loads it cannot start.
extern "C" int planted_base_marker()
{
    return 1;
}
