// The target that owns the precompiled test headers; never run.
int main() {
    return 0;
}
