/* A DLL that only carries a string table for the refusal-text tests. */
int gateTestModule(void)
{
    return 0;
}
