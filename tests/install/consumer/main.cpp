// Runs one filter from the installed libraries on the main thread.
#include <cstdio>

#include "filters/FilterCatalogue.h"
#include "platform/graphics/Image.h"

int main() {
  glowsnap::FilterCatalogue catalogue;
  auto* filter = catalogue.get_pp_with_name("More Colors");
  if (!filter) return 1;
  filter->prepare(glowsnap::Image::create(2, 1, {255, 200, 100, 50, 255, 0, 0, 0}));
  if (!filter->process(nullptr)) return 2;
  auto result = filter->get_result();
  if (!result || result->data()[1] != 241 || result->data()[2] != 81 || result->data()[3] != 1)
    return 3;
  std::printf("More Colors %dx%d ok\n", result->width(), result->height());
  return 0;
}
