// Base of the accelerometer, gyroscope and magnetometer: the calibration model
// y = S * A * (r - o), its firmware records and their XML forms.
#pragma once

#include <functional>
#include <memory>
#include <random>
#include <utility>

#include "BufferRange.h"
#include "Matrix.h"
#include "Sensor.h"

// Byte layout of the static record (FormatId 0).
namespace staticrecord {
constexpr size_t kOffsets = 2;       // 3 x i32
constexpr size_t kMatrix = 14;       // 9 x i16, row-major
constexpr size_t kScaleFactor = 32;  // u16
constexpr size_t kAxisMapping = 34;  // u32, nine 2-bit fields
constexpr size_t kVendorLength = 38; // u16
constexpr size_t kVendorData = 40;
constexpr size_t kSize = 40;
}  // namespace staticrecord

class InertialSensor : public Sensor {
public:
    explicit InertialSensor(const _sc_sensor_luid& id);

    // Record handling and XML forms.
    void setOriginalScaling(std::vector<unsigned char> record) override;
    bool validateDataFormat(std::vector<unsigned char>& record) override;
    using Sensor::getCanCalibrate;
    bool getCanCalibrate(ProcessType type) override { return type == PROCESS_INERTIAL_CALIBRATION; }
    void setRemoveRotation(bool remove) override { removeRotation = remove; }
    void parse(TiXmlHandle node, int formatId, int version) override;
    void linkDataNode(TiXmlElement* node, const std::vector<unsigned char>& record, unsigned long size) override;

    // Packs a signed permutation matrix into the record's axis-mapping word.
    static uint32_t compressAxisMapping(const Matrix& mapping);
    // The nine 2-bit fields of the word as signed values (-2 to 1), row-major.
    static Matrix decompressAxisMapping(uint32_t word);
    // The axis-mapping fields of a static record (its bytes 34 to 36).
    static uint32_t recordAxisMapping(const std::vector<unsigned char>& record);
    // The record of a sensor without calibration (identity, no offset).
    std::vector<unsigned char> getStaticDefault() const;

    void setWhiteNoise(double noise);
    double getWhiteNoise();
    bool hasImportedNoise() const { return importedNoise; }
    double getImportedWhiteNoise() const { return importedWhiteNoise; }
    int getDynamicNumSteps() const { return ownSteps; }

    // Sample intake and the firmware's calibration.
    bool testCalibration() override;
    // The tests on steps already prepared: the per-step test, or the face-up test.
    bool runTests();
    void calcReverseSdt() override;
    void reverseStaticCalibration(SensorData& data) override;
    std::string getResult() override;
    size_t getBufferedDataSize() override;
    bool DataReceivedCommon(SensorData& data);

    // Slots added by the inertial sensors.
    virtual bool checkMotion(double /*threshold*/) { return false; }
    virtual bool checkMovement() { return false; }
    virtual void findOffset() {}
    virtual void setLastData(Vector data) { lastData = data; }
    virtual void FindSegmentation();
    virtual void checkSuccess(Matrix averages);
    virtual Vector getCalibratedVector(int step);

    // Segmentation of the buffered samples into the static steps.
    void initStaticStates();
    std::vector<size_t> findIndex();
    Vector findSegmentAndNoise(const std::vector<SensorData>& samples);
    // The same over the stretches [first, second) of buffer, in their order.
    // With standardError, the standard error of the level per axis.
    Vector findSegmentAndNoise(const std::vector<SensorData>& buffer,
                               const std::vector<std::pair<size_t, size_t>>& stretches,
                               Vector* standardError = nullptr);
    void ComputeStaticSegmentsMeans();
    void ComputeStaticSegmentsStds();
    Vector calcWhiteNoise();

    // The calibration model y = S * A * (r - o).
    Vector calibrateSeg(int index, bool useMeans);
    Vector calibrateSeg(const Vector& v) const;
    static Matrix calcAxisMapping(const Matrix& m);
    // The diagonal of a matrix whose axes are mapped: each axis's scale, the
    // cross-talk left out.
    static Matrix diagonalOf(const Matrix& m);
    void endCalibration(bool diagonalOnly);

    // The firmware record of the calibration.
    void convertToFWForamt();
    static void convertScaling(const Matrix& scale, int16_t entries[9], uint16_t& factor);
    static void convertOffset(const Matrix& column, UnitsEnum from, UnitsEnum to, int32_t offsets[3]);
    std::vector<unsigned char> prependFormat(const std::vector<unsigned char>& body) const;
    void addOriginalVendorData(std::vector<unsigned char>& body) const;

    // Success criteria and tests.
    void checkSuccess();
    // Fails a calibration whose white noise is past its limit, once.
    void failOnNoise(const std::string& parameter);
    // Logs the holds' averages, what they should read, and the records found.
    void logFound(const Matrix& averages);
    // Fails a calibration whose axis mapping is a mirror image.
    void checkMirroredMapping();
    // What the operator did wrong when the mapping of one axis comes out
    // mirrored (the axis of the device, 0 to 2), as the flow's steps tell it;
    // empty when the steps cannot tell.
    virtual std::string mirrorCause(int /*axis*/) const { return ""; }
    bool TestAverage(double averageThreshold, double noiseLimit, double spikeLimit);
    int ComputeSpikesCounter(int step, double threshold);
    bool AssertVector(const Vector& value, const Vector& expected, double threshold, const std::string& where,
                      const std::string& unit);
    bool AssertAngle(const Vector& value, const Vector& expected, double threshold, const std::string& where,
                     const std::string& unit);
    bool AssertDouble(double value, double expected, double threshold, const std::string& where,
                      const std::string& unit);

    // Face-up flow.
    void faceUpDataRecieved(const SensorData& data);
    bool faceUpTestCalibration();
    void faceUpDataCalibrate();
    Vector faceUpMean() const;
    Vector faceUpDeviation() const;

    // Best-fit rotation of measured vectors onto the expected results.
    Matrix findPartialRotation(const std::vector<Vector>& measured);
    // Mean error of the sensor's vector predicted from the gyroscope's rotation.
    static double findGyroRotation(const std::shared_ptr<InertialSensor>& sensor, double tStart, double tEnd,
                                   const std::shared_ptr<InertialSensor>& gyro, int step, const Matrix& rotation);

    // Motionless detection of the live steps.
    BufferRange findBufferRange(double window);
    BufferRange findBufferRange(double start, double window);
    Vector DataMedian();
    static constexpr double kMoveWindowMs = 100.0;
    // Whether the median of the samples of the last kMoveWindowMs (where the
    // device is, a jolt of a sample or two apart) lies further than
    // `distance` from lastData. The median is taken only when a sample of
    // the window has left the band about lastData (distance / sqrt(3) on
    // every axis) inside which no median of the window can lie that far: a
    // hold costs no median.
    bool movedFurtherThan(double distance);
    // How far the median of the last motionless window may be off for the
    // noise in it: the standard error of a median, on the noisiest axis.
    double medianError();
    bool ISmotionless(bool adapt);
    // How much the samples of the last windowMs milliseconds move against the
    // motionless limits: the larger of the deviation and the range over their
    // limits (at most 1 is still); below 0 without samples. Changes no limit.
    double motionShare(double windowMs);
    // How far the samples of the last windowMs milliseconds have left the
    // rest values, on the axis furthest from them, against the motionless range
    // limit: a steady turn moves a gyroscope's rates away from its rest without
    // spreading them. Below 0 without samples or rest values.
    double departureShare(const Vector& rest, double windowMs);
    void setLimits(double stdValue, double range, double factor);
    double ContinuMotionless(double start);

    void convertDependentLimits(UnitsEnum from, UnitsEnum to);

    // What the data allows. How far the records may be off for the noise
    // of the holds and turns they came from and how many samples each had,
    // one sigma: of the scale and axes (the largest element of the
    // correction, as a share; for the magnetometer its shape), and of the
    // offset (in the sampling unit). Negative where the flow does not
    // determine the figure.
    struct Precision {
        double scale = -1.0;
        double offset = -1.0;
        // Each element's (empty where not determined).
        Matrix scaleElements;
        Vector offsetElements;
        // The share of the solutions from inputs moved by the noise that
        // did not solve.
        double failedShare = 0.0;
    };
    // What the flow promises for the same figures (0: nothing).
    struct Tolerance {
        double scale = 0.0;
        double offset = 0.0;
    };
    virtual Tolerance tolerance() const { return {}; }
    // What a real part does besides its white noise that no recording of
    // the flow shows (its nonlinearity, its bias drifting as it warms), as
    // one sigma of the records' error (0: nothing allowed for).
    Tolerance allowance() const;
    static Tolerance allowanceFor(const std::string& sensor, CalibrationFlowType flow);
    const Precision& getPrecision() const { return precision; }
    // How far past what noise alone gives a figure judged against a limit
    // may lie, in its deviations: about once in thousands by chance.
    static constexpr double kRiskSigmas = 4.0;
    // The share of calibrations whose records may stray past their
    // tolerance, for the scale and for the offset each: a calibration whose
    // noise risks more fails saying so.
    static constexpr double kRiskShare = 0.001;
    // A figure of this sensor in the unit an operator reads it in ("13.6 mg").
    std::string inOperatorUnit(double value) const;
    // How many still samples a position's holds need in all for the records
    // to promise the flow's tolerance at the risk the run allows, with this
    // noise (the largest axis's, in the sampling unit); 0 where the holds'
    // length does not decide it.
    double holdSamplesNeeded(double noise) const;
    static double holdSamplesFor(const std::string& sensor, CalibrationFlowType flow, double noise);
    // How many deviations a figure of `elements` elements may stray for the
    // chance that any of them does to be `share`.
    static double sigmasForRisk(int elements, double share);
    // The noise of the last motionless window (the largest axis's
    // deviation) and its samples per millisecond.
    double recentNoise();
    double recentRate();

    // What the samples of a stretch (times in (fromMs, toMs]) tell of the part
    // and of the stream. Readings that stayed at the extreme they reached,
    // while the samples about them were heading past it, are a part at the
    // end of its range: the axis (-1 for none), the level and for how long.
    struct Clipping {
        int axis = -1;
        double level = 0.0;
        double seconds = 0.0;
    };
    Clipping findClipping(double fromMs, double toMs) const;
    // The level a hold's samples read, per axis.
    Vector levelOf(const std::vector<SensorData>& samples) const;
    // How far the resolution may hold the level of these samples off the
    // true one, on the worst axis, with that axis and its resolution.
    double levelUncertainty(const std::vector<SensorData>& samples, int& axis, double& step) const;
    // The quietest second of the samples since fromMs, against what counts
    // as still: the largest axis's deviation and range in it, the part's
    // noise there (from the changes between consecutive samples, which a
    // slow motion hardly shows), and the limits. found is false when no
    // second of samples came.
    struct Quiet {
        bool found = false;
        double deviation = 0.0, range = 0.0, noise = 0.0;
        double deviationLimit = 0.0, rangeLimit = 0.0;
        bool still() const { return deviation <= deviationLimit && range <= rangeLimit; }
        // The noise alone spreads a second of samples past the limits.
        bool noisy() const { return noise >= 0.8 * deviationLimit || 5 * noise >= 0.9 * rangeLimit; }
    };
    Quiet quietestSecond(double fromMs);
    // The longest time between two samples, ending in the stretch, and when it began.
    double longestGap(double fromMs, double toMs, double& atMs) const;
    // How far the integral of a turn may err where reports were lost in the
    // stretch: the largest over its gaps of two or more reports, in the
    // sensor's unit times seconds; gapMs is that gap's length.
    double bridgeDoubt(double fromMs, double toMs, double& gapMs) const;

    std::vector<Vector> getExpectedResults() const;
    const Matrix& getStaticMeans() const { return staticMeans; }
    const Matrix& getStaticStds() const { return staticStds; }
    const Matrix& getScale() const { return S; }
    const Vector& getOffset() const { return o; }
    const Matrix& getAxisMapping() const { return A; }
    const Vector& getNoise() const { return whiteNoise; }
    bool hasFailed() const { return failure; }
    const std::string& getFailureReason() const { return failureReason; }
    double getMotionlessWindow() const { return motionlessWindow; }

protected:
    Matrix staticMeans = Matrix(4, 3);
    bool failure = false;
    std::string failureReason;
    Matrix expectedResults = Matrix(4, 3);
    Matrix S = Matrix(3, 3);
    Vector o = Vector(3);
    Matrix A = Matrix(3, 3);
    Matrix reverseMatrix;
    Vector reverseOffset;
    // The standard error of each hold's level, per axis (rows as staticMeans).
    Matrix holdErrors;
    Precision precision;
    bool noiseNamed = false;
    Matrix staticStds = Matrix(7, 3);
    Vector whiteNoise = Vector(3);
    double defaultNoise = 0.0;
    Vector lastData = Vector(3);
    double averageThreshold = 0.0;
    double noiseLimit = 0.0;
    double spikeLimit = 0.0;
    double motionlessWindow = 1000.0;
    bool removeRotation = false;
    bool resetCalibration = false;
    bool importedNoise = false;
    double importedWhiteNoise = 0.0;
    int ownSteps = 0;
    int numStaticStates = 0;
    // How many leading buffered samples are known to be in time order.
    mutable size_t timeOrdered = 0;
    // Where the last window's first and last samples were found.
    size_t rangeHints[2] = {0, 0};
    // The move check's band: its centre and half-width, the buffered
    // samples checked against it, and the newest of them outside it.
    Vector bandCentre;
    double bandHalfWidth = -1.0;
    size_t bandChecked = 0;
    size_t bandOutside = static_cast<size_t>(-1);

    // Limits of the success criteria (sampling unit unless dimensionless).
    double offsetLimit = 0.0;
    double normDeviationLimit = 0.0;
    double expectedErrorLimit = 0.0;
    double whiteNoiseLimit = 0.0;
    double scaleLimit = 0.0;
    double rotationLimit = 0.0;
    double nominalNorm = 0.0;
    double normTolerance = 0.0;
    double faceUpOffsetLimit = 0.0;
    double faceUpNoiseLimit = 0.0;
    double scaleReference = 0.0;

    // Motionless detection bounds (set by the concrete sensor).
    double motionLowerBound = 0.0;
    double motionStdLimit = 0.0;
    double motionRangeLimit = 0.0;
    // How far a still window's mean may lie from the first hold's (0: not
    // checked), and that hold's mean.
    double restDepartureLimit = 0.0;
    Vector restLevel;

    std::vector<unsigned char> parseStaticBody(TiXmlElement* calibrationData);
    void linkStaticData(TiXmlElement* node, const std::vector<unsigned char>& record);
    CalibrationFlowType flowType() const;
    ProcessType processType() const;
    int managerSteps() const;
    // Records a failed success criterion.
    void fail(const std::string& parameter, const std::string& reason);
    void setLogAttribute(const std::string& name, const std::string& value);
    // True when the buffered samples are in time order (checked once per sample).
    bool bufferInTimeOrder() const;
    // The index of the first buffered sample later than t, searched from
    // `from` on (the buffer in time order).
    size_t firstAfter(double t, size_t from = 0) const;
    // The indices [first, last) of the buffer outside which no sample has a
    // time in (fromMs, toMs]: found by bisection when the buffer is in time
    // order, else the whole buffer. Callers still test each sample's time.
    std::pair<size_t, size_t> spanOf(double fromMs, double toMs) const;
    // |values - lastData|, as the vectors would give it, computed for every
    // sample without building them.
    double distanceFromLast(const SampleValues& values) const;
    // The spread of the records solved again `draws` times, each time from
    // inputs moved by their own noise (draw returns the correction S * A and
    // the offset of one such solution), about the records found: the root
    // mean square of each element's difference, the largest of them. With
    // shapeOnly the corrections are compared at the same size.
    static Precision spreadOf(int draws, const std::function<std::pair<Matrix, Vector>(std::mt19937&)>& draw,
                              const Matrix& correction, const Vector& offset, bool shapeOnly);
    // The holds' levels moved by their standard errors.
    Matrix drawnMeans(const Matrix& means, std::mt19937& rng) const;
    // Logs the precision beside the tolerance, and fails a calibration that
    // cannot promise its tolerance for the noise (noise: the figure to name)
    // and has failed for nothing else. A noise past its limit fails with that
    // reason alone.
    void judgePrecision(double noise, double limit);
    // Adds the part's allowance to the precision's elements.
    void withAllowance();
    // How many times longer the samples that move the records must be for
    // them to promise the tolerance at a tenth of the risk the run allows
    // (a sigma told by two dozen solutions is known to a sixth or so): the
    // noise's share of each element shrinks as the square root of their
    // number, the allowance stays. 0 where no length up to a hundred times
    // would do.
    double samplesLongerBy() const;
    // The mean length of the flow's turns, in seconds (0: none).
    virtual double turnSeconds() const { return 0.0; }
    // The samples of buffer indexes [from, to).
    std::vector<SensorData> stretch(size_t from, size_t to) const;
    // The error of the mean of values in time order, as the spread of the
    // means of kLevelBlocks consecutive blocks of them tells it; below 0
    // for too few values.
    static double blockError(const std::vector<double>& values);
    static constexpr size_t kLevelBlocks = 10;
    // Over a segmentation's holds and axes: the sums of the squared
    // standard errors of the levels, and of their block errors.
    double levelSquares[2] = {0.0, 0.0};
};
