#include "package/legacy_curve.h"

#include <openssl/ec.h>
#include <openssl/err.h>

// libcrypto's elliptic-curve routines work on short Weierstrass curves.
// Curve25519 is birationally equivalent to Y^2 = X^3 + a X + b with
// X = x + A/3, Y = y, a = (3 - A^2)/3, b = (2 A^3 - 9 A)/27; the map is a
// group isomorphism (the point at infinity maps to itself), so sums and
// multiples computed there are the exact Curve25519 results.

const char kGroupOrderHex[] = "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ed";

namespace {

const char kFieldPrimeHex[] = "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed";
const unsigned long kCurveA = 486662;
const unsigned long kCofactor = 8;
const unsigned long kBaseU = 9;

struct GroupFree {
  void operator()(EC_GROUP* group) const { EC_GROUP_free(group); }
};
struct PointFree {
  void operator()(EC_POINT* point) const { EC_POINT_free(point); }
};
typedef std::unique_ptr<EC_GROUP, GroupFree> Group;
typedef std::unique_ptr<EC_POINT, PointFree> Point;

BigNum numberFromHex(const char* hex) {
  BIGNUM* number = nullptr;
  if (BN_hex2bn(&number, hex) == 0) return BigNum();
  return BigNum(number);
}

// The curve in Weierstrass form with B as generator. Every operation
// returns false when libcrypto fails or the input names no point.
class LegacyGroup {
 public:
  LegacyGroup();
  ~LegacyGroup() { ERR_clear_error(); }  // failed lookups leave no trace
  LegacyGroup(const LegacyGroup&) = delete;
  LegacyGroup& operator=(const LegacyGroup&) = delete;
  bool ready() const { return group_ != nullptr; }

  Point newPoint() const { return Point(EC_POINT_new(group_.get())); }
  // The point with Montgomery u-coordinate `u` (mod p) and odd y.
  bool pointFromU(const BIGNUM* u, EC_POINT* point);
  // The Montgomery u-coordinate and y of a finite point.
  bool coordinatesOf(const EC_POINT* point, BIGNUM* u, BIGNUM* y);
  bool multiply(const BIGNUM* k, const EC_POINT* q, const BIGNUM* s, EC_POINT* result);

 private:
  bool setUp();
  // y^2 = u^3 + A u^2 + u.
  bool curveRightSide(const BIGNUM* u, BIGNUM* result);

  BigNumContext context_;
  BigNum prime_;
  BigNum curveA_;
  BigNum shift_;  // A/3 mod p
  Group group_;
};

LegacyGroup::LegacyGroup()
    : context_(BN_CTX_new()), prime_(numberFromHex(kFieldPrimeHex)), curveA_(newBigNum()),
      shift_(newBigNum()) {
  if (!setUp()) group_.reset();
}

bool LegacyGroup::setUp() {
  BigNum three = newBigNum(), a = newBigNum(), b = newBigNum(), term = newBigNum();
  BigNum order = numberFromHex(kGroupOrderHex), cofactor = newBigNum();
  BN_CTX* c = context_.get();
  const BIGNUM* p = prime_.get();
  if (!context_ || !prime_ || !curveA_ || !shift_ || !three || !a || !b || !term || !order ||
      !cofactor || !BN_set_word(curveA_.get(), kCurveA) || !BN_set_word(three.get(), 3) ||
      !BN_set_word(cofactor.get(), kCofactor) ||
      !BN_mod_inverse(three.get(), three.get(), p, c) ||
      // shift = A/3, a = 1 - A shift, b = 2 shift^3 - shift
      !BN_mod_mul(shift_.get(), curveA_.get(), three.get(), p, c) ||
      !BN_mod_mul(term.get(), curveA_.get(), shift_.get(), p, c) || !BN_one(a.get()) ||
      !BN_mod_sub(a.get(), a.get(), term.get(), p, c) ||
      !BN_mod_sqr(term.get(), shift_.get(), p, c) ||
      !BN_mod_mul(term.get(), term.get(), shift_.get(), p, c) ||
      !BN_mod_lshift1(term.get(), term.get(), p, c) ||
      !BN_mod_sub(b.get(), term.get(), shift_.get(), p, c)) {
    return false;
  }
  group_.reset(EC_GROUP_new_curve_GFp(p, a.get(), b.get(), c));
  if (!group_) return false;
  Point base = newPoint();
  BigNum baseU = newBigNum();
  return base && baseU && BN_set_word(baseU.get(), kBaseU) && pointFromU(baseU.get(), base.get()) &&
         EC_GROUP_set_generator(group_.get(), base.get(), order.get(), cofactor.get());
}

bool LegacyGroup::curveRightSide(const BIGNUM* u, BIGNUM* result) {
  BigNum sum = newBigNum();
  BN_CTX* c = context_.get();
  // ((u + A) u + 1) u
  return sum && BN_mod_add(sum.get(), u, curveA_.get(), prime_.get(), c) &&
         BN_mod_mul(sum.get(), sum.get(), u, prime_.get(), c) && BN_add_word(sum.get(), 1) &&
         BN_mod_mul(result, sum.get(), u, prime_.get(), c);
}

bool LegacyGroup::pointFromU(const BIGNUM* u, EC_POINT* point) {
  BigNum reduced = newBigNum(), rightSide = newBigNum(), y = newBigNum();
  BN_CTX* c = context_.get();
  const BIGNUM* p = prime_.get();
  if (!reduced || !rightSide || !y || !BN_nnmod(reduced.get(), u, p, c) ||
      !curveRightSide(reduced.get(), rightSide.get())) {
    return false;
  }
  // The Legendre symbol rules out a u of the twist before the root is taken.
  if (BN_kronecker(rightSide.get(), p, c) < 0 || !BN_mod_sqrt(y.get(), rightSide.get(), p, c)) {
    return false;
  }
  if (!BN_is_zero(y.get()) && !BN_is_odd(y.get()) && !BN_sub(y.get(), p, y.get())) return false;
  return BN_mod_add(reduced.get(), reduced.get(), shift_.get(), p, c) &&
         EC_POINT_set_affine_coordinates(group_.get(), point, reduced.get(), y.get(), c);
}

bool LegacyGroup::coordinatesOf(const EC_POINT* point, BIGNUM* u, BIGNUM* y) {
  BN_CTX* c = context_.get();
  return !EC_POINT_is_at_infinity(group_.get(), point) &&
         EC_POINT_get_affine_coordinates(group_.get(), point, u, y, c) &&
         BN_mod_sub(u, u, shift_.get(), prime_.get(), c);
}

bool LegacyGroup::multiply(const BIGNUM* k, const EC_POINT* q, const BIGNUM* s, EC_POINT* result) {
  return EC_POINT_mul(group_.get(), result, k, q, s, context_.get()) == 1;
}

}  // namespace

bool legacyCombination(const Bytes32& publicKey, const Bytes32& k, const Bytes32& s, Bytes32* x) {
  LegacyGroup group;
  if (!group.ready()) return false;
  Point key = group.newPoint(), sum = group.newPoint();
  BigNum keyU = bigNumFromLittleEndian(publicKey), kNumber = bigNumFromLittleEndian(k),
         sNumber = bigNumFromLittleEndian(s), u = newBigNum(), y = newBigNum();
  return key && sum && keyU && kNumber && sNumber && u && y &&
         group.pointFromU(keyU.get(), key.get()) &&
         group.multiply(kNumber.get(), key.get(), sNumber.get(), sum.get()) &&
         group.coordinatesOf(sum.get(), u.get(), y.get()) && bigNumToLittleEndian(u.get(), x);
}

bool legacyKeyOnCurve(const Bytes32& publicKey) {
  LegacyGroup group;
  if (!group.ready()) return false;
  Point key = group.newPoint();
  BigNum keyU = bigNumFromLittleEndian(publicKey);
  return key && keyU && group.pointFromU(keyU.get(), key.get());
}

bool legacyBaseMultiple(const Bytes32& n, Bytes32* u, bool* yIsOdd) {
  LegacyGroup group;
  if (!group.ready()) return false;
  Point multiple = group.newPoint();
  BigNum nNumber = bigNumFromLittleEndian(n), uNumber = newBigNum(), y = newBigNum();
  if (!multiple || !nNumber || !uNumber || !y ||
      !group.multiply(nNumber.get(), nullptr, nullptr, multiple.get()) ||
      !group.coordinatesOf(multiple.get(), uNumber.get(), y.get()) ||
      !bigNumToLittleEndian(uNumber.get(), u)) {
    return false;
  }
  *yIsOdd = BN_is_odd(y.get());
  return true;
}
