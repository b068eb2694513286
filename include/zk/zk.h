// libzk: the whole library interface.
#pragma once

#include <zk/base/byteorder.h>
#include <zk/base/chk.h>
#include <zk/base/crc.h>
#include <zk/file/dirtree.h>
#include <zk/file/filename.h>
#include <zk/file/shims.h>
#include <zk/sort/qsort.h>
#include <zk/string/dstr.h>
#include <zk/string/strutil.h>
#include <zk/wild/brace.h>
#include <zk/wild/simplify.h>
#include <zk/wild/wild.h>
