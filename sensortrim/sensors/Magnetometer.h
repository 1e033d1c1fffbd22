// The magnetic field sensor: hard and soft iron from an ellipsoid fit over the
// whole recording, misalignment from three full turns with the local dip angle
// found by a search; the test of a calibration over four headings; and the
// magnetic environment test run before calibrating.
#pragma once

#include <atomic>
#include <mutex>

#include "EllipsoidFit.h"
#include "InertialSensor.h"

class Magnetometer : public InertialSensor {
public:
    explicit Magnetometer(const _sc_sensor_luid& id);

    void calibrate() override;
    bool testCalibration() override;
    bool dataRecieved(SensorData& data) override;
    std::string getResult() override;
    // The luid of the uncalibrated magnetometer that delivers the raw samples.
    _sc_sensor_luid getLuidForSampling() override;
    bool getCanCalibrate() override { return isPrimary() && Sensor::getCanCalibrate(); }
    bool getCanCalibrate(ProcessType type) override { return type != PROCESS_ALS_CALIBRATION; }
    void MidCalc() override;
    bool checkMotion(double window) override;
    bool checkMovement() override;
    void setLastData(Vector data) override;
    void checkSuccess(Matrix averages) override;
    using InertialSensor::checkSuccess;

    using InertialSensor::setLimits;
    void setLimits();
    void findRotation(const EllipsoidFit& fit);
    // From the records findRotation starts with (S, o), those that make every
    // sample of the turns and holds most likely.
    void refine();
    static constexpr int kRefineIterations = 30;
    // The arc of a turn whose consecutive samples the refinement takes as
    // one point, their mean (degrees).
    static constexpr double kTurnArcDegrees = 0.5;
    // What the refinement found besides the records: the field's strength
    // and, for each turn, its part along the turn's axis and the buffer
    // indexes [first, second) of the turn with its holds.
    struct Circles {
        bool found = false;
        double field = 0.0;
        double along[3] = {0.0, 0.0, 0.0};
        std::pair<size_t, size_t> stretches[3];
    };
    Circles circles;
    // The point of the model nearest to the calibrated field u of buffer
    // index i: on its turn's circle, or on the sphere.
    Vector modelPoint(size_t i, const Vector& u) const;
    // The calibration of a recording: fit, axes and records (S, A, o),
    // returned as the fit whose transform and centre they are.
    EllipsoidFit solve();
    // What the field did while the device turned, through a fit: its
    // strength in the holds, and the largest change of the calibrated
    // strength from it over a tenth of a second (a disturbance at the
    // station) and over kSmoothingMs (how well the records fit), as shares
    // of it, with the turns (0 to 2) where they were largest.
    struct FieldFigures {
        double field = 0.0;
        double change = 0.0, stray = 0.0;
        int changeTurn = -1, strayTurn = -1;
    };
    FieldFigures fieldFigures(const EllipsoidFit& fit);
    // Fails the calibration when the field changed during a turn by more
    // than kFieldChangeLimit, or strays more than kFieldFitLimit, or than
    // what the part's noise alone makes of them (null) where that is more.
    void checkFieldDuringTurns(const EllipsoidFit& fit, const FieldFigures& null);
    // The precision of the records and the null figures: the calibration
    // solved again from the recording as the records say it was, with noise
    // like its own, kDraws times.
    void weighPrecision(const EllipsoidFit& fit, FieldFigures& null);
    static constexpr int kDraws = 24;
    // The noise per axis as means over kBlockMs in the holds show it, as the
    // white noise of single samples that spreads them so; stepNoise gets the
    // noise the changes from one sample to the next show.
    Vector blockNoise(Vector& stepNoise);
    // The calibration's recording's noise as blockNoise tells it.
    Vector swingNoise;
    // How far the field's strength may be off, one sigma.
    double fieldError = 0.0;
    Tolerance tolerance() const override;
    std::string mirrorCause(int axis) const override;
    double turnSeconds() const override;
    static constexpr double kFieldChangeLimit = 0.05;
    // Averaged over kSmoothingMs it strays at most this share from its
    // strength in the holds, or the fit does not hold the samples it came from.
    static constexpr double kFieldFitLimit = 0.007;
    // The samples the ellipsoid is fitted to: the means of runs of samples of
    // at most kBlockMs that stay within kBlockReach of the field's radius of
    // the run's first.
    static std::vector<SensorData> blockMeans(const std::vector<SensorData>& buffer);
    static constexpr double kBlockMs = 100.0;
    static constexpr double kBlockReach = 0.1;
    // Where the field is, for cutting the runs: the mean of this many
    // samples on each side of one and itself.
    static constexpr size_t kTrackHalf = 2;
    // The calibrated strength is judged over this long (ms).
    static constexpr double kSmoothingMs = 400.0;
    // The strengths (time, strength), each averaged over windowMs about it.
    static std::vector<double> smoothed(const std::vector<std::pair<double, double>>& strengths, double windowMs);
    double findBestAngle(int steps, double magnitude, const std::vector<Vector>& vectors, double low, double high);
    double findPartialRotationError(const std::vector<Vector>& vectors, const Matrix& rotation);
    void SetExpectation(double dip, double magnitude);
    // The axis a full turn went about, from its samples through the fit:
    // the normal of the plane the field drew, pointing the way the device
    // turned counterclockwise about it. `along` gets the field's part along
    // it as a share of the field's strength.
    Vector findMisalignment(const std::vector<SensorData>& samples, const EllipsoidFit& fit, double* along = nullptr);
    // A field whose part along a turn's axis is smaller than this share of
    // its strength (a dip within about 6 degrees of the magnetic equator)
    // does not tell which way is up.
    static constexpr double kLeastVerticalShare = 0.1;

    // The magnetic environment test.
    void findFit();
    void checkDipAngle();
    void magEnvTest();
    double findDipAngleWithGravity(const SensorData& sample) const;
    const std::vector<double>& getDipAngles() const { return dipAngles; }

    // Headings of the still steps, degrees, after removing offset.
    std::vector<double> findMagDirection(const Vector& offset);
    // Centre of the planar turn of all buffered samples.
    Vector getCenter();

    bool TestMagSTD();
    bool TestStaticValues();
    bool TestMagValues(const Vector& offset);
    bool TestDirection(const Vector& offset);
    bool TestMagScale(const EllipsoidFit& fit);

protected:
    std::vector<double> dipAngles;
    EllipsoidFit environmentFit;
    std::atomic<bool> fitDone{false};
    std::mutex bufferMutex;
    const double maxFieldStrength = 650.0;
    const double minFieldStrength = 200.0;
    const double reduceDistanceFallback = 1.0;
    double environmentReduceDistance = 10.0;
    const double motionRangeThreshold = 100.0;
    const double movementThreshold = 300.0;
    // How far the field must move from the last hold to be the move to the
    // next position (set with the hold).
    double movementDistance = 300.0;
    double sinDip = -1.0;
    // The buffer indexes [first, second) of the full flow's three turns.
    std::vector<std::pair<size_t, size_t>> turnStretches;
    double cosDip = -1.0;

private:
    // Logs a test's closing lines and reports a failed verdict.
    void endTest(bool passed);
};
