public class Throw {
    public static void main(String[] args) {
        throw new IllegalStateException("no configuration");
    }
}
