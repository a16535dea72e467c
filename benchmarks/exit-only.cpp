// The start-up reference: built like the product (own entry point, the runtime's start-up
// and termination, no run-time library) and does nothing but exit.
extern "C" int main(int argc, char **argv, char **envp)
{
    (void)argc;
    (void)argv;
    (void)envp;
    return 0;
}
