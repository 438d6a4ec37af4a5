// Linked with one layer whole and the layers below it: an undefined symbol
// means the layer calls one above it.
int main() {
  return 0;
}
