// Placeholder until the catalogue data lands; replaced by the catalogue work.
#include "catalogue/Catalogue.h"
